// Sections and their mapped windows, and the intrusive lists that chain virtual-file sections
// and cached windows.
//
// A mapping is one platform section with the windows of it that are currently mapped. Windows
// are recorded under the pointer handed to the caller, which lies past the window's start when
// the caller's offset is not a multiple of the allocation granularity. A mapping has no lock:
// one owner uses it at a time. Out of memory raises the memory exception, other platform
// failures a last-error exception; violated contracts are internal errors of Src/FileMapping.
#pragma once

#include <windows.h>

#include <cstdint>

#include "Alloc.h"
#include "File.h"
#include "Map.h"

namespace Zelkor {

// The protection of a section.
enum MappingMode : uint32_t {
    MM_ReadOnly = 0,         // PAGE_READONLY
    MM_ReadWrite = 1,        // PAGE_READWRITE
    MM_ExecuteRead = 2,      // PAGE_EXECUTE_READ
    MM_ExecuteReadWrite = 3, // PAGE_EXECUTE_READWRITE
};

class CListBase;

// A node unlinks itself when destroyed.
class CListNodeBase {
public:
    CListNodeBase() = default;
    CListNodeBase(const CListNodeBase&) = delete;
    CListNodeBase& operator=(const CListNodeBase&) = delete;
    virtual ~CListNodeBase();

private:
    friend class CListBase;
    CListBase* list = nullptr;
    CListNodeBase* previous = nullptr;
    CListNodeBase* next = nullptr;
};

// A list destroys the nodes it still holds.
class CListBase {
public:
    CListBase() = default;
    CListBase(const CListBase&) = delete;
    CListBase& operator=(const CListBase&) = delete;
    virtual ~CListBase();

    bool IsEmpty() const { return head == nullptr; }
    // Linking a node that sits in a list is an internal error.
    void AddHead(CListNodeBase* node);
    void Unlink(CListNodeBase* node); // a node of another list is an internal error
    void MoveToHead(CListNodeBase* node);

protected:
    CListNodeBase* First() const { return head; }
    CListNodeBase* Last() const { return tail; }
    static CListNodeBase* After(const CListNodeBase* node) { return node->next; }

private:
    CListNodeBase* head = nullptr;
    CListNodeBase* tail = nullptr;
};

template <class T>
class CList : public CListBase {
public:
    T* GetHead() const { return static_cast<T*>(First()); }
    T* GetTail() const { return static_cast<T*>(Last()); }
    static T* GetNext(const T* node) { return static_cast<T*>(After(node)); }
};

template <class T, class L>
class CListNode : public CListNodeBase {
};

class CMapping {
public:
    CMapping() = default;
    CMapping(const CMapping&) = delete;
    CMapping& operator=(const CMapping&) = delete;
    // Unmaps every window and closes the section; a failure goes to ProcessException.
    virtual ~CMapping();

    // A page-file-backed section; it starts zero-filled.
    void Create(MappingMode mode, int64_t size);
    // Takes over (and later closes) an existing section as a read-only mapping.
    void AttachSection(HANDLE section);
    // Maps size bytes from offset (0: to the end of the section); any offset is allowed.
    void* MapView(uint32_t access, int64_t offset, int32_t size);
    void UnmapView(void* pointer); // by the pointer MapView returned

    virtual void Flush();
    virtual void Close();
    // The old contents are gone.
    virtual void Resize(int64_t size);

    bool HasSection() const { return section != nullptr; }
    MappingMode GetMode() const { return mode; }
    int32_t GetWindowCount() const { return windows.GetCount(); }

private:
    void CreateSection(int64_t size);
    void UnmapAll();

    HANDLE fileHandle = INVALID_HANDLE_VALUE; // 0 once closed
    MappingMode mode = MM_ReadOnly;
    HANDLE section = nullptr;
    // The caller's pointer -> the start the platform returned.
    CMap<void*, void*, DefaultKeyTraits<void*>, FileLayerHeap> windows;
};

class CMemoryMapping : public CMapping {
public:
    void Resize(int64_t size) override; // a size below 1 is an internal error
};

// The section type of virtual files.
class CVirtualMemoryMapping : public CMemoryMapping, public CAllocatedOn<FileLayerHeap> {};

} // namespace Zelkor
