// Module entry of a framework module: the module registry, the load verdict and the flag that
// makes the loading thread show failures instead of throwing them.
#include <windows.h>

#include "StartupOrder.h"
#include "ThreadData.h"
#include "Zelkor.h"

namespace Zelkor {

namespace {

ZELKOR_INIT(ZELKOR_ROW_LOCKS + 40) CCriticalSection ModuleRegistryLock;

void NoModuleNotification(HMODULE)
{
}

// ZELKOR_ROW_SUPPRESS: from here to the entry's verdict the loading thread shows failures instead of
// throwing them. An executable has no entry hook that would clear the flag again, so there
// it stays clear.
class CLoadingThreadMark {
public:
    CLoadingThreadMark()
    {
        if (StartupInternal::IsModuleEntryHooked())
            ZelkorThreadData.Get().SuppressExceptions = true;
    }

    // The last exit handler of an unload or a refused load.
    ~CLoadingThreadMark() // GCOVR_EXCL_START: runs at exit, after the counts are written
    {
        try {
            ZelkorThreadData.Get().SuppressExceptions = false;
        } catch (CException* e) {
            TraceUnpropagated(e);
        }
    } // GCOVR_EXCL_STOP
};

} // namespace

ZELKOR_INIT(ZELKOR_ROW_LOCKS + 41) CModuleRegistry ModuleRegistry;
ZELKOR_INIT(ZELKOR_ROW_SUPPRESS) CLoadingThreadMark LoadingThreadMark;

int32_t CModuleRegistry::FindLocked(HMODULE module) const
{
    for (int32_t i = 0; i < records.GetSize(); ++i) {
        if (records[i].Module == module)
            return i;
    }
    return -1;
}

int32_t CModuleRegistry::GetCount()
{
    CCriticalSectionLock guard(ModuleRegistryLock);
    return records.GetSize();
}

bool CModuleRegistry::Contains(HMODULE module)
{
    CCriticalSectionLock guard(ModuleRegistryLock);
    return FindLocked(module) >= 0;
}

void CModuleRegistry::Attach(HMODULE module, ModuleNotification onAttach, ModuleNotification onDetach)
{
    CCriticalSectionLock guard(ModuleRegistryLock);
    const int32_t found = FindLocked(module);
    if (found >= 0) {
        Check(records[found].OnAttach == onAttach, CheckSite::ModuleAttachedWithOtherAttach);
        Check(records[found].OnDetach == onDetach, CheckSite::ModuleAttachedWithOtherDetach);
        return;
    }
    records.Add(CModuleRecord{module, onAttach, onDetach});
}

void CModuleRegistry::Detach(HMODULE module)
{
    CCriticalSectionLock guard(ModuleRegistryLock);
    const int32_t found = FindLocked(module);
    if (found < 0) {
        Check(false, CheckSite::ModuleDetachedUnknown);
        return;
    }
    records.DeleteAt(found);
}

namespace StartupInternal {

BOOL ModuleEntry(HINSTANCE module, DWORD reason, LPVOID, ModuleNotification onAttach, ModuleNotification onDetach)
{
    // Nothing may unwind into the loader: a failure escaping here refuses an attach.
    try {
        if (reason == DLL_PROCESS_ATTACH) {
            ModuleRegistry.Attach(module, onAttach, onDetach);
            CZelkorThreadData& thread = ZelkorThreadData.Get();
            thread.SuppressExceptions = false;
            return thread.ErrorShown ? FALSE : TRUE;
        }
        if (reason == DLL_PROCESS_DETACH) {
            // Cleared again by the last exit handler (ZELKOR_ROW_SUPPRESS).
            ZelkorThreadData.Get().SuppressExceptions = true;
            ModuleRegistry.Detach(module);
        }
    } catch (CException* e) {
        ReportStartupFailure(e);
        return reason == DLL_PROCESS_ATTACH ? FALSE : TRUE;
    } catch (...) {
        DebugTrace(L"Zelkor: unexpected exception in the module entry\n");
        return reason == DLL_PROCESS_ATTACH ? FALSE : TRUE;
    }
    return TRUE;
}

} // namespace StartupInternal

BOOL ZelkorModuleEntry(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    return StartupInternal::ModuleEntry(module, reason, reserved, NoModuleNotification, NoModuleNotification);
}

} // namespace Zelkor
