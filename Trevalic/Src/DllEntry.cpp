// The module's entry point. It wraps the runtime's own entry so that the framework sees the
// attach before any static initialiser runs and the detach after the last exit handler.
#include <windows.h>

#include "Zelkor.h"

extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE, DWORD, LPVOID);

extern "C" BOOL WINAPI ModuleEntryPoint(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        Zelkor::RawModuleEntry(module, reason, reserved);
        BOOL ok = DllMainCRTStartup(module, reason, reserved);
        // On a refused load the runtime has already run DllMain(detach) and the exit handlers.
        if (!ok)
            Zelkor::RawModuleEntry(module, DLL_PROCESS_DETACH, reserved);
        return ok;
    }
    if (reason == DLL_PROCESS_DETACH) {
        BOOL ok = DllMainCRTStartup(module, reason, reserved);
        Zelkor::RawModuleEntry(module, reason, reserved);
        return ok;
    }
    return DllMainCRTStartup(module, reason, reserved);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    return Zelkor::ZelkorModuleEntry(module, reason, reserved);
}
