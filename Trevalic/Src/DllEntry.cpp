// The module's entry point. It wraps the runtime's own entry so that the framework sees the
// attach before any static initialiser runs and the detach after the last exit handler.
#include <windows.h>

#include "Zelkor.h"

extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE, DWORD, LPVOID);

namespace {

// After a refused load the loader sends one more process detach; the runtime ignores it, and
// so must the framework, whose teardown already ran.
bool Attached = false;

} // namespace

extern "C" BOOL WINAPI ModuleEntryPoint(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        Attached = true;
        Zelkor::RawModuleEntry(module, reason, reserved);
        BOOL ok = DllMainCRTStartup(module, reason, reserved);
        // On a refused load the runtime has already run DllMain(detach) and the exit handlers.
        if (!ok) {
            // GCOVR_EXCL_START: after the exit handlers, which write the counts
            Zelkor::RawModuleEntry(module, DLL_PROCESS_DETACH, reserved);
            Attached = false;
            // GCOVR_EXCL_STOP
        }
        return ok;
    }
    if (reason == DLL_PROCESS_DETACH) {
        if (!Attached)
            return TRUE;
        BOOL ok = DllMainCRTStartup(module, reason, reserved);
        // GCOVR_EXCL_START: after the exit handlers, which write the counts
        Zelkor::RawModuleEntry(module, reason, reserved);
        Attached = false;
        return ok;
        // GCOVR_EXCL_STOP
    }
    return DllMainCRTStartup(module, reason, reserved);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    return Zelkor::ZelkorModuleEntry(module, reason, reserved);
}
