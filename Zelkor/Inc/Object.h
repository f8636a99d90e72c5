// Intrusive reference counting. IObject is used as a virtual base; the count is changed only
// atomically, and the release that takes it from 1 to 0 runs the deleting destructor. CPtr<T>
// holds one reference.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

#include "Errors.h"

namespace Zelkor {

class IObject {
public:
    IObject() = default;
    IObject(const IObject&) = delete;
    IObject& operator=(const IObject&) = delete;

    // Nothing calls it and nothing here supports interface queries, but it stays: it is the
    // first slot of every object built on IObject, and the slot order is fixed.
    virtual IObject* QueryObject(uint32_t kind)
    {
        Check(false, CheckSite::ObjectQueryUnsupported);
        return nullptr;
    }

    void AddRef() { referenceCount.fetch_add(1, std::memory_order_relaxed); }

    void Release()
    {
        // acq_rel: the deleting thread must see every write made through other references.
        if (referenceCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }

    int32_t GetReferenceCount() const { return referenceCount.load(std::memory_order_relaxed); }

protected:
    virtual ~IObject() = default;

private:
    std::atomic<int32_t> referenceCount{0};
};

template <class T>
class CPtr {
public:
    CPtr() = default;
    CPtr(T* object) : object(object)
    {
        if (object != nullptr)
            object->AddRef();
    }
    CPtr(const CPtr& other) : CPtr(other.object) {}
    CPtr(CPtr&& other) noexcept : object(std::exchange(other.object, nullptr)) {}
    ~CPtr() { Reset(); }

    CPtr& operator=(CPtr other) noexcept
    {
        std::swap(object, other.object);
        return *this;
    }

    void Reset()
    {
        if (T* held = std::exchange(object, nullptr))
            held->Release();
    }

    T* Get() const { return object; }
    explicit operator bool() const { return object != nullptr; }
    T* operator->() const { return object; }

    // For entries of containers that must never hold null: a null one is a broken invariant.
    // Null when shown instead of thrown, so callers skip the entry.
    T* GetChecked() const
    {
        Check(object != nullptr, CheckSite::ObjectNullEntry);
        return object;
    }

private:
    T* object = nullptr;
};

} // namespace Zelkor
