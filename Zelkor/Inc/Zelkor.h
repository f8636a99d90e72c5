// Module start-up and shutdown of a framework module.
#pragma once

#include <windows.h>

namespace Zelkor {

// Called by the module's entry point before the runtime runs any static initialiser
// (attach) and after the last exit handler (detach).
void RawModuleEntry(HINSTANCE module, DWORD reason, LPVOID reserved);

// The framework's part of DllMain: runs after the static initialisers on attach.
BOOL ZelkorModuleEntry(HINSTANCE module, DWORD reason, LPVOID reserved);

// The module the framework is linked into, or the executable before the raw hook ran.
HMODULE GetZelkorModuleHandle();

} // namespace Zelkor
