// The registry of all per-thread records and the framework's own thread objects.
// See ThreadObject.h for who owns what and which lock guards it.
#include <windows.h>

#include "ThreadData.h"
#include "ThreadObject.h"
#include "StartupOrder.h"
#include "Zelkor.h" // up: a thread record names the module that owns it (the module handle)

namespace Zelkor {

namespace ThreadObjectInternal {

CThreadDataBase::CThreadDataBase(CThreadObjectBase* owner) : owner(owner)
{
    // The pseudo-handle means "the calling thread" to whoever uses it, so a real handle is
    // needed to ask later, from another thread, whether this one has ended.
    const HANDLE process = GetCurrentProcess();
    const BOOL duplicated =
        DuplicateHandle(process, GetCurrentThread(), process, &thread, 0, FALSE, DUPLICATE_SAME_ACCESS);
    if (!duplicated) {
        thread = nullptr;
        // Thrown from here, the half-built record is freed by the new-expression.
        CheckLastError(false, CheckSite::ThreadHandleNotDuplicated);
    }
}

CThreadDataBase::~CThreadDataBase()
{
    if (thread != nullptr)
        CloseHandle(thread);
}

namespace {

void DeleteRecords(CRecordArray* records)
{
    for (int32_t i = 0; i < records->GetSize(); ++i)
        delete (*records)[i];
    delete records;
}

CThreadDataBase* FirstRecord(CRecordArray* records)
{
    for (int32_t i = 0; i < records->GetSize(); ++i) {
        if ((*records)[i] != nullptr)
            return (*records)[i];
    }
    return nullptr;
}

} // namespace

CThreadDataRegistry::CThreadDataRegistry() : slot(TlsAlloc()), nextIndex(0), sharedRecords(nullptr)
{
    // Start-up goes on without a slot: threads then share one array under the lock.
    if (slot == TLS_OUT_OF_INDEXES)
        OutputDebugStringW(L"Not enough TLS indices\n");
}

CThreadDataRegistry::~CThreadDataRegistry()
{
    CCriticalSectionLock guard(lock);
    for (int32_t i = 0; i < arrays.GetSize(); ++i) {
        if (arrays[i] != nullptr)
            DeleteRecords(arrays[i]);
    }
    arrays.DeleteAll();
    if (sharedRecords != nullptr)
        DeleteRecords(sharedRecords);
    sharedRecords = nullptr;
    if (slot != TLS_OUT_OF_INDEXES)
        TlsFree(slot);
    slot = TLS_OUT_OF_INDEXES;
}

uint32_t CThreadDataRegistry::TakeNextIndex()
{
    CCriticalSectionLock guard(lock);
    return nextIndex++;
}

CRecordArray* CThreadDataRegistry::GetOrCreateRecordsLocked()
{
    if (slot == TLS_OUT_OF_INDEXES) {
        if (sharedRecords == nullptr)
            sharedRecords = new CRecordArray;
        return sharedRecords;
    }
    auto* records = static_cast<CRecordArray*>(TlsGetValue(slot));
    if (records != nullptr)
        return records;
    records = new CRecordArray;
    // Listed before it becomes reachable through the slot, so that an array is never owned by
    // the slot alone: a failed append leaves nothing behind.
    try {
        arrays.Add(records);
    } catch (...) {
        delete records;
        throw;
    }
    TlsSetValue(slot, records);
    return records;
}

CThreadDataBase* CThreadDataRegistry::Store(uint32_t index, CThreadDataBase* record)
{
    CCriticalSectionLock guard(lock);
    try {
        CRecordArray* records = GetOrCreateRecordsLocked();
        while (static_cast<uint32_t>(records->GetSize()) <= index)
            records->Add(nullptr);
        CThreadDataBase*& entry = (*records)[static_cast<int32_t>(index)];
        if (entry == record)
            return record;
        // In the shared array another thread may have stored the same object's record between
        // our look-up and now; it may hold a reference to it, so the newcomer goes.
        if (records == sharedRecords && entry != nullptr && entry->GetOwner() == record->GetOwner()) {
            delete record;
            return entry;
        }
        CThreadDataBase* previous = entry;
        entry = record;
        delete previous;
        return record;
    } catch (...) {
        delete record;
        throw;
    }
}

CThreadDataBase* CThreadDataRegistry::FindShared(uint32_t index)
{
    CCriticalSectionLock guard(lock);
    if (sharedRecords == nullptr || index >= static_cast<uint32_t>(sharedRecords->GetSize()))
        return nullptr;
    return (*sharedRecords)[static_cast<int32_t>(index)];
}

void CThreadDataRegistry::ReclaimEndedThreads()
{
    CCriticalSectionLock guard(lock);
    int32_t i = 0;
    while (i < arrays.GetSize()) {
        CRecordArray* records = arrays[i];
        if (records == nullptr) {
            Check(false, CheckSite::ThreadRecordArrayMissing);
            arrays.DeleteAt(i);
            continue;
        }
        // Every record of an array was made by the same thread, so any one of them tells.
        CThreadDataBase* first = FirstRecord(records);
        if (first == nullptr || first->GetThread() == nullptr) {
            ++i;
            continue;
        }
        const DWORD state = WaitForSingleObject(first->GetThread(), 0);
        if (state == WAIT_FAILED) {
            CheckLastError(false, CheckSite::ThreadStateUnknown);
            ++i;
            continue;
        }
        if (state != WAIT_OBJECT_0) {
            ++i;
            continue;
        }
        arrays.DeleteAt(i);
        DeleteRecords(records);
    }
}

void CThreadDataRegistry::RemoveRecordsOf(uint32_t index)
{
    CCriticalSectionLock guard(lock);
    // By owner rather than by position: a record stored at a wrong position still goes with
    // the object it points to, which is about to disappear.
    auto removeFrom = [index](CRecordArray* records) {
        for (int32_t i = 0; i < records->GetSize(); ++i) {
            CThreadDataBase*& entry = (*records)[i];
            if (entry != nullptr && entry->GetOwner()->GetIndex() == index) {
                CThreadDataBase* record = entry;
                entry = nullptr;
                delete record;
            }
        }
    };
    for (int32_t i = 0; i < arrays.GetSize(); ++i) {
        if (arrays[i] == nullptr) {
            Check(false, CheckSite::ThreadRecordArrayMissingOnRemove);
            continue;
        }
        removeFrom(arrays[i]);
    }
    if (sharedRecords != nullptr)
        removeFrom(sharedRecords);
}

int32_t CThreadDataRegistry::GetArrayCount()
{
    CCriticalSectionLock guard(lock);
    return arrays.GetSize();
}

CThreadObjectBase::CThreadObjectBase() : module(GetZelkorModuleHandle()), index(ThreadDataRegistry.TakeNextIndex())
{
}

CThreadObjectBase::~CThreadObjectBase()
{
    try {
        ThreadDataRegistry.RemoveRecordsOf(index);
    } catch (CException* e) {
        TraceUnpropagated(e);
    }
}

CThreadDataBase* CThreadObjectBase::StoreRecord(CThreadDataBase* record)
{
    return ThreadDataRegistry.Store(index, record);
}

} // namespace ThreadObjectInternal

// The registry comes before every thread object, and the framework's four thread objects come
// in this order so that their indices are 0 to 3.
ZELKOR_INIT(ZELKOR_ROW_THREAD_REGISTRY) ThreadObjectInternal::CThreadDataRegistry ThreadDataRegistry;

ZELKOR_INIT(ZELKOR_ROW_THREAD_OBJECTS) CThreadObject<CErrorInfo> ErrorInfo;
ZELKOR_INIT(ZELKOR_ROW_THREAD_OBJECTS) CThreadObject<CZelkorThreadData> ZelkorThreadData;
ZELKOR_INIT(ZELKOR_ROW_THREAD_OBJECTS) CThreadObject<CThreadLogData> ThreadLogData;
ZELKOR_INIT(ZELKOR_ROW_THREAD_OBJECTS) CThreadObject<CThreadLanguageData> ThreadLanguageData;

} // namespace Zelkor
