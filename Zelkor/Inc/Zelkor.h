// Start-up and shutdown of a framework module.
//
// On process attach the module's entry point calls RawModuleEntry before the runtime runs any
// static initialiser, and ZelkorModuleEntry after the last one (from DllMain). The static
// objects are built in the order of StartupOrder.h, each registering its exit handler as it
// completes. While they are built, the loading thread shows failures instead of throwing them;
// ZelkorModuleEntry then refuses the load if any was shown, and the runtime runs the same
// teardown as an unload: ZelkorModuleEntry(detach), the exit handlers in reverse, RawModuleEntry.
#pragma once

#include <windows.h>

#include <cstdint>

#include "Array.h"
#include "Errors.h"
#include "GuardedStatic.h"
#include "Lock.h"
#include "UnicodeString.h"

namespace Zelkor {

// Records the module handle on process attach. Always true.
BOOL RawModuleEntry(HINSTANCE module, DWORD reason, LPVOID reserved);

// The framework's part of DllMain. On process attach it adds the module to ModuleRegistry and
// returns false when a failure was shown during static initialisation.
BOOL ZelkorModuleEntry(HINSTANCE module, DWORD reason, LPVOID reserved);

// The module the framework is linked into; the executable when no raw hook ran before.
HMODULE GetZelkorModuleHandle();

// The folder of the framework module's file, with its trailing separator: files that belong
// beside the module (the message log, the event-source library) are looked for there.
CUnicodeString GetZelkorModuleDirectory();

// ZELKOR_ROW_RESOURCE_MODULE: the module registers itself as a resource module and unregisters at unload.
// Defined with the resource-module registry (Src/ResourceInfo), which the module entry does not reach.
void RegisterOwnResourceModule();
void UnregisterOwnResourceModule();

using ModuleNotification = void (*)(HMODULE module);

struct CModuleRecord {
    HMODULE Module;
    ModuleNotification OnAttach;
    ModuleNotification OnDetach;
};

class CModuleRegistry {
public:
    int32_t GetCount();
    bool Contains(HMODULE module);

    // Under the registry lock. Present: its callbacks must match. Absent: appended.
    void Attach(HMODULE module, ModuleNotification onAttach, ModuleNotification onDetach);
    // Under the registry lock; the module must be present.
    void Detach(HMODULE module);

private:
    int32_t FindLocked(HMODULE module) const;

    CArray<CModuleRecord, ProcessHeap> records;
};

extern CModuleRegistry ModuleRegistry;

namespace StartupInternal {

// ZelkorModuleEntry with the module's own notification callbacks.
BOOL ModuleEntry(HINSTANCE module, DWORD reason, LPVOID reserved, ModuleNotification onAttach,
                 ModuleNotification onDetach);

// True between RawModuleEntry's attach and detach: the module is being loaded by an entry
// point that will call ZelkorModuleEntry, so a shown failure can refuse the load.
bool IsModuleEntryHooked();

} // namespace StartupInternal

} // namespace Zelkor
