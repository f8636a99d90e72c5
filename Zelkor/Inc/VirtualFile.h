// The nodes of the virtual file system and the open handle on a file node.
//
// A file node keeps its bytes in a chain of page-file-backed sections that covers the byte
// range from 0 to its mapped size without gaps and grows on demand by half of what it holds
// (at most a tenth of the free page file per step, always far enough for the byte asked
// for). Sections live as long as the node. A handle reads and writes through at most ten
// windows of one allocation granule each, most recently used first.
//
// Sharing one node between threads: the node's storage lock guards its section chain, the
// windows of its sections, its set of open handles and every change of its length. The length
// belongs to the node, not to a handle, so every handle sees what the others wrote and a
// reader's close never shortens the file. Bytes that a shrink left behind read as zeros once
// the file grows over them again.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "File.h"
#include "FileMapping.h"
#include "HashTable.h"
#include "Lock.h"
#include "Map.h"
#include "Object.h"
#include "PointerArray.h"

namespace Zelkor {

class CVirtualDirectory;
class CVirtualFile;

class CVirtualFileBase : public IObject, public CAllocatedOn<FileLayerHeap> {
public:
    // An empty name is an internal error. The three times are the current system time.
    CVirtualFileBase(const CUnicodeString& name, uint32_t attributes, CVirtualDirectory* parent);
    ~CVirtualFileBase() override;

    CUnicodeString Name; // the full path
    uint32_t Attributes;
    int64_t CreationTime, LastAccessTime, LastWriteTime;
    std::atomic<int64_t> Length{0}; // 0 for a directory
    CPtr<CVirtualDirectory> Parent; // null only for the root
};

class CVirtualDirectory : public CVirtualFileBase {
public:
    CVirtualDirectory(const CUnicodeString& name, CVirtualDirectory* parent);

    // One path component each; found without regard to case, separator kind or a trailing one.
    CMap<CUnicodeString, CPtr<CVirtualFileBase>, PathKeyTraits, FileLayerHeap> Children;
};

// One section of a file node's chain.
class CVirtualMapping : public CListNode<CVirtualMapping, CList<CVirtualMapping>>, public CAllocatedOn<FileLayerHeap> {
public:
    CVirtualMapping(int64_t offset, int64_t size) : Offset(offset), Size(size) {}

    CVirtualMemoryMapping Section;
    int64_t Offset; // in the file
    int64_t Size;
};

// One mapped window of a handle. The owner unmaps it before destroying it.
class CVirtualView : public CListNode<CVirtualView, CList<CVirtualView>>, public CAllocatedOn<FileLayerHeap> {
public:
    CVirtualView(CVirtualMapping* mapping, unsigned char* address, int64_t offsetInSection, int64_t size)
        : Mapping(mapping), Address(address), OffsetInSection(offsetInSection), Size(size)
    {
    }

    int64_t FileOffset() const { return Mapping->Offset + OffsetInSection; }
    bool Covers(int64_t offset) const { return offset >= FileOffset() && offset - FileOffset() < Size; }

    CVirtualMapping* Mapping; // not owned
    unsigned char* Address;
    int64_t OffsetInSection;
    int64_t Size; // mapped bytes: the handle's view size, less at the end of an adopted section
};

class CVirtualFileData : public CVirtualFileBase {
public:
    // Sections of the given mode appear on first use; the committed length is initialSize.
    CVirtualFileData(const CUnicodeString& name, uint32_t attributes, CVirtualDirectory* parent, MappingMode mode,
                     int64_t initialSize);
    ~CVirtualFileData() override;

    // Makes a caller's section the node's whole storage, read-only, holding size bytes: first
    // everything that may fail, then the section is taken over (and later closed), which cannot.
    void PrepareAdoption(int64_t size);
    void AttachAdoptedSection(HANDLE section);
    bool HasAdoptedStorage() const { return adopted; }
    MappingMode GetMode() const { return mode; }
    int32_t GetSectionCount() const { return sections.GetSize(); }

    // The section holding offset, growing the storage when needed. Takes the storage lock.
    CVirtualMapping* GetSectionForOffset(int64_t offset);

    // Guards sections, their windows, OpenHandles and changes of the length; taken after the
    // file system's lock, never before it.
    CCriticalSection StorageLock;
    CHashTable<CVirtualFile*, DefaultKeyTraits<CVirtualFile*>, FileLayerHeap> OpenHandles;

private:
    friend class CVirtualFile;
    void AddSection(int64_t size);

    uint32_t granularity;
    MappingMode mode;
    bool adopted = false;
    int64_t initialSize;
    int64_t mappedSize = 0;
    // Bytes from here on were never part of the file: fresh sections read as zeros there.
    // Below it a shrink may have left old bytes, which growth zeroes again.
    int64_t dirtyEnd;
    CPointerArray<CVirtualMapping, FileLayerHeap> sections; // by increasing offset
};

class CVirtualFile : public CBaseFile, public CAllocatedOn<FileLayerHeap> {
public:
    static constexpr int32_t MaxCachedViews = 10;

    // Created open by the virtual file system, which registers it in the node's OpenHandles.
    CVirtualFile(CVirtualFileData* node, uint32_t desiredAccess, uint32_t shareMode);
    ~CVirtualFile() override;

    CUnicodeString GetFileName() override;
    // Without read access: the access-denied kind.
    int32_t Read(void* buffer, int32_t count) override;
    // Without write access: the sharing-violation kind, even for 0 bytes. Only a write past the
    // end changes the length, to its end.
    void Write(const void* buffer, int32_t count) override;
    int64_t GetPosition() override { return position; }
    // Before the start: the bad-seek kind, and the position stays.
    int64_t Seek(int64_t offset, uint32_t origin) override;
    // Without write access: the access-denied kind, as a platform file refuses it.
    void SetLength(int64_t length) override;
    int64_t GetLength() override { return node->Length.load(std::memory_order_acquire); }
    void Abort() override;
    void Flush() override {}
    void Close() override;

    // The cached window that covers offset, mapping it (and evicting the oldest) when needed.
    CVirtualView* GetView(int64_t offset);
    // Writes the whole file into target from its start; target's length becomes this length.
    void CopyToFile(CBaseFile& target);

    CVirtualFileData* GetNode() const { return node.Get(); }
    uint32_t GetShareMode() const { return shareMode; }
    uint32_t GetDesiredAccess() const { return desiredAccess; }
    uint32_t GetViewSize() const { return viewSize; }

private:
    void RequireWriteAccess(uint32_t errorCode);
    void ZeroRange(int64_t from, int64_t to);
    // Hands the bytes [from, to) to visit(address, count) view by view, in order; returns
    // where it stopped, short of to only when a view could not be mapped.
    template <class Visit>
    int64_t WalkViews(int64_t from, int64_t to, Visit visit);
    // Extends the file to length, above its current length; the storage lock is held.
    void Grow(int64_t length);
    // A write that extends the file to end; the storage lock is held.
    void WriteGrowing(const unsigned char* source, int64_t end);
    // Copies source into the bytes [from, to); returns where it stopped, as WalkViews.
    int64_t CopyIn(const unsigned char* source, int64_t from, int64_t to);
    void DropViews();

    uint32_t viewSize;
    uint32_t desiredAccess;
    uint32_t shareMode;
    CPtr<CVirtualFileData> node;
    bool open = true;
    CList<CVirtualView> views; // most recently used first
    int32_t viewCount = 0;
    int64_t position = 0;
};

namespace VirtualFileInternal {
// The bytes the page file has free, which back every section: a section grows by at most a
// tenth of them, and the virtual file system reports them as its free space.
uint64_t GetAvailablePageFile();
// For tests only: a function giving the free bytes in place of the platform's (null: the
// platform's again); returns the previous one.
using AvailablePageFileFunction = uint64_t (*)();
AvailablePageFileFunction SetAvailablePageFileFunctionForTest(AvailablePageFileFunction function);
} // namespace VirtualFileInternal

} // namespace Zelkor
