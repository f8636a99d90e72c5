// Module entry of a framework module.
#include "Zelkor.h"

namespace Zelkor {

namespace {
HMODULE ZelkorModule = nullptr;
}

void RawModuleEntry(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        ZelkorModule = module;
}

BOOL ZelkorModuleEntry(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

HMODULE GetZelkorModuleHandle()
{
    return ZelkorModule ? ZelkorModule : GetModuleHandleW(nullptr);
}

} // namespace Zelkor
