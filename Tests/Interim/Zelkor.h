// TEMPORARY stand-in (see README.txt): main's Zelkor.h with DebugTrace.
#pragma once
#include <windows.h>
namespace Zelkor {
void RawModuleEntry(HINSTANCE module, DWORD reason, LPVOID reserved);
BOOL ZelkorModuleEntry(HINSTANCE module, DWORD reason, LPVOID reserved);
HMODULE GetZelkorModuleHandle();
void DebugTrace(const wchar_t* format, ...);
}
