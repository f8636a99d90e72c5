// CPointerArray: an array of pointers that owns the objects they point to. Every way an
// entry leaves the array (DeleteAt, DeleteAll, SetSize below the size, SetAt over it, the
// destructor) deletes its object through the object's own (virtual) destructor; null entries
// are skipped. Detach hands an object back to the caller without deleting it.
#pragma once

#include "Array.h"

namespace Zelkor {

template <class T, class Policy = CurrentManager>
class CPointerArray {
public:
    CPointerArray() = default;
    CPointerArray(const CPointerArray&) = delete;
    CPointerArray& operator=(const CPointerArray&) = delete;
    ~CPointerArray() { DeleteAll(); }

    int32_t GetSize() const { return items.GetSize(); }
    int32_t GetCapacity() const { return items.GetCapacity(); }

    T* operator[](int32_t index) const { return items[index]; }
    T* GetAt(int32_t index) const { return items[index]; }
    T* const* GetBuffer() const { return items.GetBuffer(); }
    T* const* begin() const { return items.begin(); }
    T* const* end() const { return items.end(); }

    // The array owns the object from here on, even when growing throws: a pointer that could
    // not be stored is deleted rather than leaked.
    void Add(T* object)
    {
        try {
            items.Add(object);
        } catch (...) {
            delete object;
            throw;
        }
    }

    void InsertAt(int32_t index, T* object)
    {
        try {
            items.InsertAt(index, object);
        } catch (...) {
            delete object;
            throw;
        }
    }

    void SetAt(int32_t index, T* object)
    {
        T*& entry = items[index];
        if (entry != object) {
            delete entry;
            entry = object;
        }
    }

    // Gives up ownership of one object; its entry becomes null.
    T* Detach(int32_t index)
    {
        T* object = items[index];
        items[index] = nullptr;
        return object;
    }

    void SetSize(int32_t newSize)
    {
        ZELKOR_CHECK_ARGUMENT(newSize >= 0, ZELKOR_HERE(L"Inc/PointerArray"));
        for (int32_t i = items.GetSize() - 1; i >= newSize; --i) {
            delete items[i];
            items[i] = nullptr;
        }
        items.SetSize(newSize);
    }

    void SetBufferSize(int32_t newCapacity) { items.SetBufferSize(newCapacity); }

    void DeleteAt(int32_t index, int32_t count = 1)
    {
        const int32_t size = items.GetSize();
        ZELKOR_CHECK_ARGUMENT(index >= 0, CheckSite::PointerArrayDeleteNegativeIndex);
        ZELKOR_CHECK_ARGUMENT(index <= size, CheckSite::PointerArrayDeleteIndexPastEnd);
        ZELKOR_CHECK_ARGUMENT(count >= 0, CheckSite::PointerArrayDeleteNegativeCount);
        ZELKOR_CHECK_ARGUMENT(index <= size - count, CheckSite::PointerArrayDeleteCountPastEnd);
        if (count == 0)
            return;
        for (int32_t i = index; i < index + count; ++i) {
            delete items[i];
            items[i] = nullptr;
        }
        items.DeleteAt(index, count);
    }

    void DeleteAll()
    {
        for (int32_t i = items.GetSize() - 1; i >= 0; --i) {
            delete items[i];
            items[i] = nullptr;
        }
        items.DeleteAll();
    }

private:
    CArray<T*, Policy> items;
};

} // namespace Zelkor
