// The current memory manager of each thread: its thread-local slot (ZELKOR_ROW_MEMORY_SLOT) and
// the scope that switches it. Apart from the managers because the failure operations switch to
// DefaultMemoryManager while they raise and the managers raise through them: the slot serves both.
#include <windows.h>

#include "Alloc.h"
#include "StartupOrder.h"

namespace Zelkor {

namespace {

// Constant-initialised, so that a thread asking for its manager before ZELKOR_ROW_MEMORY_SLOT
// (or after its exit handler) gets DefaultMemoryManager instead of someone else's slot 0.
DWORD CurrentManagerIndex = TLS_OUT_OF_INDEXES;

class CCurrentManagerSlot {
public:
    CCurrentManagerSlot()
    {
        const DWORD index = TlsAlloc();
        if (index == TLS_OUT_OF_INDEXES)
            OutputDebugStringW(L"Not enough TLS indices\n"); // start-up goes on without the slot
        CurrentManagerIndex = index;
    }
    ~CCurrentManagerSlot() // GCOVR_EXCL_START: runs at exit, after the counts are written
    {
        const DWORD index = CurrentManagerIndex;
        CurrentManagerIndex = TLS_OUT_OF_INDEXES;
        if (index != TLS_OUT_OF_INDEXES)
            TlsFree(index);
    } // GCOVR_EXCL_STOP
};

ZELKOR_INIT(ZELKOR_ROW_MEMORY_SLOT) CCurrentManagerSlot CurrentManagerSlot;

} // namespace

IMemoryManager* GetCurrentMemoryManager()
{
    const DWORD index = CurrentManagerIndex;
    if (index == TLS_OUT_OF_INDEXES)
        return &DefaultMemoryManager;
    // TlsGetValue clears the last-error code on success; callers that allocate between a
    // failed platform call and their GetLastError must still see the call's code.
    const DWORD lastError = GetLastError();
    void* manager = TlsGetValue(index);
    SetLastError(lastError);
    return manager ? static_cast<IMemoryManager*>(manager) : &DefaultMemoryManager;
}

void SetCurrentMemoryManager(IMemoryManager* manager)
{
    const DWORD index = CurrentManagerIndex;
    if (index == TLS_OUT_OF_INDEXES)
        return;
    if (manager == &DefaultMemoryManager)
        manager = nullptr;
    TlsSetValue(index, manager);
}

CMemoryManagerSwitcher::CMemoryManagerSwitcher(IMemoryManager* manager) : previous(GetCurrentMemoryManager())
{
    SetCurrentMemoryManager(manager);
}

CMemoryManagerSwitcher::~CMemoryManagerSwitcher()
{
    SetCurrentMemoryManager(previous);
}

} // namespace Zelkor
