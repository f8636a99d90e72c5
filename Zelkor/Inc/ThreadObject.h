// Per-thread values: CThreadObject<T>::Get() gives every thread its own T, built on the
// thread's first access.
//
// Ownership. Each thread that touched a thread object owns one record array (reached through
// the registry's thread-local slot); entry i holds the record of the thread object with index i.
// The registry owns every record array in its list and every record in them. Indices are
// handed out once and never reused, so a record's owner identifies its type.
//
// Locking. Only the owning thread reads its array without the lock. Every change of an array,
// of the list or of the index counter happens under the registry lock. Other threads touch a
// live thread's array only to clear entries of a thread object being destroyed, which nobody
// may use any more, so the owner's lock-free read never meets a half-done change it cares about.
//
// Lifetime. Nothing happens when a thread ends: the arrays of ended threads are deleted the next
// time any thread builds a record. A destroyed thread object deletes its records in every
// thread. At process exit the thread objects go first (reverse order of creation), then the
// registry deletes what is left and frees its slot.
#pragma once

#include <windows.h>

#include <cstdint>

#include "Alloc.h"
#include "Array.h"
#include "Errors.h"
#include "Lock.h"

namespace Zelkor {

namespace ThreadObjectInternal {

class CThreadObjectBase;

class CThreadDataBase {
public:
    // Remembers a real handle of the calling thread so that ended threads can be found.
    explicit CThreadDataBase(CThreadObjectBase* owner);
    virtual ~CThreadDataBase();
    CThreadDataBase(const CThreadDataBase&) = delete;
    CThreadDataBase& operator=(const CThreadDataBase&) = delete;

    HANDLE GetThread() const { return thread; }
    CThreadObjectBase* GetOwner() const { return owner; }

private:
    HANDLE thread = nullptr;
    CThreadObjectBase* owner;
};

// Entry i belongs to the thread object with index i; null means no record.
class CRecordArray : public CArray<CThreadDataBase*, ProcessHeap>, public CAllocatedOn<ProcessHeap> {};

class CThreadDataRegistry {
public:
    CThreadDataRegistry();
    ~CThreadDataRegistry();
    CThreadDataRegistry(const CThreadDataRegistry&) = delete;
    CThreadDataRegistry& operator=(const CThreadDataRegistry&) = delete;

    // The calling thread's records, or null before its first record. Keeps the thread's
    // last-error value: TlsGetValue clears it, and callers read values between a failed
    // platform call and the report of its error code.
    CRecordArray* GetCurrentRecords() const
    {
        if (slot == TLS_OUT_OF_INDEXES)
            return nullptr;
        const DWORD lastError = GetLastError();
        auto* records = static_cast<CRecordArray*>(TlsGetValue(slot));
        SetLastError(lastError);
        return records;
    }

    bool HasSlot() const { return slot != TLS_OUT_OF_INDEXES; }
    uint32_t TakeNextIndex();

    // Takes ownership of record, also when it throws. Returns the record now at the index:
    // record itself, or, when threads share one array, one another thread stored first.
    CThreadDataBase* Store(uint32_t index, CThreadDataBase* record);
    // Without a thread-local slot every thread shares one array; only reached under the lock.
    CThreadDataBase* FindShared(uint32_t index);
    void ReclaimEndedThreads();
    void RemoveRecordsOf(uint32_t index);

    // For tests: the number of record arrays the registry holds.
    int32_t GetArrayCount();

private:
    CRecordArray* GetOrCreateRecordsLocked();

    DWORD slot;
    uint32_t nextIndex;
    CArray<CRecordArray*, ProcessHeap> arrays;
    CRecordArray* sharedRecords; // used only when no slot could be allocated
    CCriticalSection lock;
};

class CThreadObjectBase {
public:
    CThreadObjectBase();
    virtual ~CThreadObjectBase();
    CThreadObjectBase(const CThreadObjectBase&) = delete;
    CThreadObjectBase& operator=(const CThreadObjectBase&) = delete;

    uint32_t GetIndex() const { return index; }
    HMODULE GetModule() const { return module; }

protected:
    CThreadDataBase* FindRecord() const;
    CThreadDataBase* StoreRecord(CThreadDataBase* record);

private:
    HMODULE module;
    uint32_t index;
};

} // namespace ThreadObjectInternal

extern ThreadObjectInternal::CThreadDataRegistry ThreadDataRegistry;

template <class T>
class CThreadObject : public ThreadObjectInternal::CThreadObjectBase {
public:
    class CThreadData : public T, public ThreadObjectInternal::CThreadDataBase, public CAllocatedOn<ProcessHeap> {
    public:
        explicit CThreadData(CThreadObjectBase* owner) : T(), CThreadDataBase(owner) {}
        T& GetValue() { return *this; }
    };

    // Lock-free when the calling thread already has its record.
    T& Get()
    {
        ThreadObjectInternal::CThreadDataBase* record = FindRecord();
        if (record != nullptr) {
            // An index taken over by another thread object would mean another type.
            if (record->GetOwner() == this)
                return static_cast<CThreadData*>(record)->GetValue();
            Check(false, CheckSite::ThreadObjectForeignRecord);
            // Shown instead of thrown: replace the foreign record rather than misread it.
        }
        return CreateValue();
    }

private:
    T& CreateValue()
    {
        ThreadDataRegistry.ReclaimEndedThreads();
        ThreadObjectInternal::CThreadDataBase* stored = StoreRecord(new CThreadData(this));
        return static_cast<CThreadData*>(stored)->GetValue();
    }
};

inline ThreadObjectInternal::CThreadDataBase* ThreadObjectInternal::CThreadObjectBase::FindRecord() const
{
    CRecordArray* records = ThreadDataRegistry.GetCurrentRecords();
    if (records == nullptr)
        return ThreadDataRegistry.HasSlot() ? nullptr : ThreadDataRegistry.FindShared(index);
    if (index >= static_cast<uint32_t>(records->GetSize()))
        return nullptr;
    return (*records)[static_cast<int32_t>(index)];
}

} // namespace Zelkor
