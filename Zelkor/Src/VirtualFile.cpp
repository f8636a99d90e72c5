// Virtual file contents: the section chain of a file node and the open handle on it.
#include "VirtualFile.h"

#include <algorithm>
#include <cstring>

#include "Errors.h"
#include "Time.h"

namespace Zelkor {

namespace {

constexpr const wchar_t* SourcePath = L"Src/VirtualFile";

VirtualFileInternal::AvailablePageFileFunction AvailablePageFile = nullptr;

int64_t RoundUp(int64_t size, int64_t granule)
{
    return size < 1 ? granule : (size - 1 + granule) - (size - 1 + granule) % granule;
}

int64_t CurrentFileTime()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return FileTimeToValue(now);
}

void ReportAndDelete(CException* e)
{
    ReportUnpropagated(e);
    delete e;
}

} // namespace

CVirtualFileBase::CVirtualFileBase(const CUnicodeString& name, uint32_t attributes, CVirtualDirectory* parent)
    : Name(name), Attributes(attributes), Parent(parent)
{
    Check(!name.IsEmpty(), ZELKOR_HERE(L"Src/VirtualFileSystem"));
    CreationTime = LastAccessTime = LastWriteTime = CurrentFileTime();
}

CVirtualFileBase::~CVirtualFileBase() = default;

CVirtualDirectory::CVirtualDirectory(const CUnicodeString& name, CVirtualDirectory* parent)
    : CVirtualFileBase(name, FILE_ATTRIBUTE_DIRECTORY, parent), Children(31)
{
}

CVirtualFileData::CVirtualFileData(const CUnicodeString& name, uint32_t attributes, CVirtualDirectory* parent,
                                   MappingMode mode, int64_t initialSize)
    : CVirtualFileBase(name, attributes, parent), OpenHandles(31), granularity(GetAllocationGranularity()), mode(mode),
      initialSize(std::max<int64_t>(initialSize, 0)), dirtyEnd(this->initialSize)
{
    Check(initialSize >= 0, ZELKOR_HERE(L"Src/VirtualFileSystem"));
    Length.store(this->initialSize, std::memory_order_relaxed);
}

CVirtualFileData::~CVirtualFileData() = default;

void CVirtualFileData::PrepareAdoption(int64_t size)
{
    CCriticalSectionLock lock(StorageLock);
    if (!Check(sections.GetSize() == 0 && size >= 0, ZELKOR_HERE(SourcePath)))
        return;
    sections.Add(new CVirtualMapping(0, size)); // owned by the array, also when adding fails
    adopted = true;
    mode = MM_ReadOnly;
    initialSize = mappedSize = dirtyEnd = size;
    Length.store(size, std::memory_order_release);
}

void CVirtualFileData::AttachAdoptedSection(HANDLE section)
{
    CCriticalSectionLock lock(StorageLock);
    if (Check(adopted && sections.GetSize() == 1, ZELKOR_HERE(SourcePath)))
        sections[0]->Section.AttachSection(section);
}

void CVirtualFileData::AddSection(int64_t size)
{
    // No page file holds that much, and the rounding and the sum below must not overflow.
    if (size > INT64_MAX - mappedSize - 2 * int64_t(granularity))
        ThrowMemoryException();
    size = RoundUp(size, granularity);
    auto* mapping = new CVirtualMapping(mappedSize, size);
    try {
        mapping->Section.Create(mode, size);
    } catch (...) {
        delete mapping;
        throw;
    }
    sections.Add(mapping); // owned by the array, also when adding fails
    mappedSize += size;
}

CVirtualMapping* CVirtualFileData::GetSectionForOffset(int64_t offset)
{
    if (!Check(offset >= 0, ZELKOR_HERE(SourcePath)))
        return nullptr;
    CCriticalSectionLock lock(StorageLock);
    if (offset < mappedSize) {
        // Sections are few (growth is geometric) and sorted: search by halves.
        auto found = std::upper_bound(sections.begin(), sections.end(), offset,
                                      [](int64_t value, const CVirtualMapping* m) { return value < m->Offset; });
        CVirtualMapping* section = *(found - 1);
        Check(offset - section->Offset < section->Size, ZELKOR_HERE(SourcePath));
        return section;
    }
    if (!Check(!adopted, ZELKOR_HERE(SourcePath)))
        return nullptr;
    if (mappedSize == 0) {
        AddSection(std::max({Length.load(std::memory_order_relaxed), initialSize, int64_t(granularity)}));
        if (offset < mappedSize)
            return sections[0];
    }
    if (!Check(mappedSize >= granularity, ZELKOR_HERE(SourcePath)))
        return nullptr;
    const int64_t tenthOfFree =
        int64_t(std::min<uint64_t>(VirtualFileInternal::GetAvailablePageFile() / 10, INT64_MAX));
    AddSection(std::max(std::min(mappedSize / 2, tenthOfFree), offset - mappedSize + 1));
    return sections[sections.GetSize() - 1];
}

CVirtualFile::CVirtualFile(CVirtualFileData* node, uint32_t desiredAccess, uint32_t shareMode)
    : viewSize(GetAllocationGranularity()), desiredAccess(desiredAccess), shareMode(shareMode), node(node)
{
}

CVirtualFile::~CVirtualFile()
{
    try {
        Close();
    } catch (CException* e) {
        ReportAndDelete(e);
    }
}

CUnicodeString CVirtualFile::GetFileName()
{
    if (!Check(node.Get() != nullptr, ZELKOR_HERE(SourcePath)))
        return CUnicodeString();
    return node->Name;
}

CVirtualView* CVirtualFile::GetView(int64_t offset)
{
    if (!Check(offset >= 0, ZELKOR_HERE(SourcePath)))
        return nullptr;
    for (CVirtualView* view = views.GetHead(); view != nullptr; view = CList<CVirtualView>::GetNext(view)) {
        if (view->Covers(offset)) {
            views.MoveToHead(view);
            return view;
        }
    }
    CVirtualMapping* section = node->GetSectionForOffset(offset);
    if (section == nullptr)
        return nullptr;
    const int64_t start = offset - offset % viewSize;
    const int64_t offsetInSection = start - section->Offset;
    if (!Check(offsetInSection >= 0, ZELKOR_HERE(SourcePath)) ||
        !Check(section->Section.HasSection(), ZELKOR_HERE(L"Inc/FileMapping")))
        return nullptr;
    const int64_t size = std::min<int64_t>(viewSize, section->Size - offsetInSection);
    const uint32_t access = section->Section.GetMode() == MM_ReadOnly ? FILE_MAP_READ : FILE_MAP_WRITE;
    CCriticalSectionLock lock(node->StorageLock); // the section's window table is shared by all handles
    if (viewCount == MaxCachedViews) {
        CVirtualView* oldest = views.GetTail();
        oldest->Mapping->Section.UnmapView(oldest->Address);
        delete oldest;
        --viewCount;
    }
    auto* address = static_cast<unsigned char*>(section->Section.MapView(access, offsetInSection, int32_t(size)));
    if (!Check(address != nullptr, ZELKOR_HERE(L"Inc/VirtualFile")))
        return nullptr;
    CVirtualView* view;
    try {
        view = new CVirtualView(section, address, offsetInSection, size);
    } catch (...) {
        section->Section.UnmapView(address);
        throw;
    }
    views.AddHead(view);
    ++viewCount;
    return view;
}

template <class Visit>
int64_t CVirtualFile::WalkViews(int64_t from, int64_t to, Visit visit)
{
    while (from < to) {
        CVirtualView* view = GetView(from);
        if (view == nullptr)
            break;
        const int64_t offsetInView = from - view->FileOffset();
        const int64_t count = std::min(view->Size - offsetInView, to - from);
        visit(view->Address + offsetInView, count);
        from += count;
    }
    return from;
}

int32_t CVirtualFile::Read(void* buffer, int32_t count)
{
    if (count == 0)
        return 0;
    if (!Check(buffer != nullptr, ZELKOR_HERE(SourcePath)) || !Check(count >= 1, ZELKOR_HERE(SourcePath)))
        return 0;
    // As on disk: a handle opened without read access reads nothing.
    if ((desiredAccess & GENERIC_READ) == 0)
        ThrowFileException(ERROR_ACCESS_DENIED, GetFileName());
    const int64_t available = GetLength() - position;
    if (available < 1)
        return 0;
    const int32_t n = int32_t(std::min<int64_t>(count, available));
    auto* target = static_cast<unsigned char*>(buffer);
    const int64_t start = position;
    position = WalkViews(start, start + n, [&target](const unsigned char* bytes, int64_t count) {
        std::memcpy(target, bytes, size_t(count));
        target += count;
    });
    return int32_t(position - start);
}

void CVirtualFile::RequireWriteAccess(uint32_t errorCode)
{
    if ((desiredAccess & GENERIC_WRITE) == 0 || node->GetMode() == MM_ReadOnly)
        ThrowFileException(errorCode, GetFileName());
}

void CVirtualFile::Write(const void* buffer, int32_t count)
{
    RequireWriteAccess(ERROR_SHARING_VIOLATION);
    if (count == 0)
        return;
    if (!Check(buffer != nullptr, ZELKOR_HERE(SourcePath)) || !Check(count >= 1, ZELKOR_HERE(SourcePath)) ||
        !Check(open, ZELKOR_HERE(SourcePath)))
        return;
    // The platform refuses a write that would end past the largest position a file can have.
    if (count > INT64_MAX - position)
        ThrowFileException(ERROR_INVALID_PARAMETER, GetFileName());
    const auto* source = static_cast<const unsigned char*>(buffer);
    const int64_t end = position + count;
    if (end > GetLength()) {
        CCriticalSectionLock lock(node->StorageLock);
        // Decided again under the lock: another writer may have extended the file further
        // since, and its bytes must stay.
        if (end > GetLength()) {
            WriteGrowing(source, end);
            return;
        }
    }
    position = CopyIn(source, position, end);
}

// Storage, the gap before the write, the windows and the bytes, then the length: a failure on
// the way leaves the length as it was and marks what it wrote beyond it for zeroing again.
void CVirtualFile::WriteGrowing(const unsigned char* source, int64_t end)
{
    const int64_t old = GetLength();
    int64_t written = position;
    try {
        node->GetSectionForOffset(end - 1);
        ZeroRange(old, std::min(position, node->dirtyEnd));
        written = CopyIn(source, position, end);
        ZeroRange(std::max(old, written), std::min(end, node->dirtyEnd)); // short only after an internal error
    } catch (...) {
        node->dirtyEnd = std::max(node->dirtyEnd, end);
        throw;
    }
    node->Length.store(end, std::memory_order_release);
    position = written;
}

int64_t CVirtualFile::CopyIn(const unsigned char* source, int64_t from, int64_t to)
{
    // Every window first while they all fit the cache, so that running out of storage or
    // address space for one changes no byte; a longer write goes window by window.
    if (to - 1 - from / viewSize * viewSize >= int64_t(MaxCachedViews) * viewSize) {
        return WalkViews(from, to, [&source](unsigned char* bytes, int64_t count) {
            std::memcpy(bytes, source, size_t(count));
            source += count;
        });
    }
    unsigned char* addresses[MaxCachedViews];
    int64_t counts[MaxCachedViews];
    int32_t pieces = 0;
    const int64_t at = WalkViews(from, to, [&](unsigned char* bytes, int64_t count) {
        addresses[pieces] = bytes;
        counts[pieces++] = count;
    });
    for (int32_t i = 0; i < pieces; ++i) {
        std::memcpy(addresses[i], source, size_t(counts[i]));
        source += counts[i];
    }
    return at;
}

int64_t CVirtualFile::Seek(int64_t offset, uint32_t origin)
{
    int64_t base;
    switch (origin) {
    case FILE_BEGIN: base = 0; break;
    case FILE_CURRENT: base = position; break;
    case FILE_END: base = GetLength(); break;
    default: Check(false, ZELKOR_HERE(SourcePath)); return position;
    }
    // As on disk, a seek before the start fails and leaves the position where it was; so does
    // one past the largest position, where the platform's sum wraps below the start.
    if (offset > INT64_MAX - base || base + offset < 0)
        ThrowFileException(ERROR_NEGATIVE_SEEK, GetFileName());
    position = base + offset;
    return position;
}

void CVirtualFile::ZeroRange(int64_t from, int64_t to)
{
    WalkViews(from, to, [](unsigned char* bytes, int64_t count) { std::memset(bytes, 0, size_t(count)); });
}

void CVirtualFile::SetLength(int64_t length)
{
    if (!Check(length >= 0, ZELKOR_HERE(SourcePath)) || !Check(open, ZELKOR_HERE(SourcePath)))
        return;
    RequireWriteAccess(ERROR_ACCESS_DENIED);
    CCriticalSectionLock lock(node->StorageLock);
    const int64_t old = GetLength();
    if (length > old) {
        Grow(length);
    } else {
        node->dirtyEnd = std::max(node->dirtyEnd, old);
        node->Length.store(length, std::memory_order_release);
    }
    position = length;
}

void CVirtualFile::Grow(int64_t length)
{
    // Storage first: when the page file cannot give it, the file stays as it was.
    node->GetSectionForOffset(length - 1);
    ZeroRange(GetLength(), std::min(length, node->dirtyEnd));
    node->Length.store(length, std::memory_order_release);
}

void CVirtualFile::DropViews()
{
    if (views.IsEmpty())
        return;
    CCriticalSectionLock lock(node->StorageLock);
    while (CVirtualView* view = views.GetHead()) {
        view->Mapping->Section.UnmapView(view->Address);
        delete view;
    }
    viewCount = 0;
}

void CVirtualFile::Close()
{
    if (!open)
        return;
    open = false;
    DropViews();
    position = 0;
    CCriticalSectionLock lock(node->StorageLock);
    node->OpenHandles.Delete(this);
}

void CVirtualFile::Abort()
{
    try {
        Close();
    } catch (CException* e) {
        ReportAndDelete(e);
    }
}

void CVirtualFile::CopyToFile(CBaseFile& target)
{
    const int64_t length = GetLength();
    target.SetLength(length);
    target.Seek(0, FILE_BEGIN);
    // A view holds at most viewSize bytes, so each piece fits the count of a write.
    WalkViews(0, length, [&target](const unsigned char* bytes, int64_t count) { target.Write(bytes, int32_t(count)); });
}

namespace VirtualFileInternal {
uint64_t GetAvailablePageFile()
{
    if (AvailablePageFile != nullptr)
        return AvailablePageFile();
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    CheckLastError(GlobalMemoryStatusEx(&status) != FALSE, ZELKOR_HERE(L"Src/Zelkor"));
    return status.ullAvailPageFile;
}

AvailablePageFileFunction SetAvailablePageFileFunctionForTest(AvailablePageFileFunction function)
{
    const AvailablePageFileFunction previous = AvailablePageFile;
    AvailablePageFile = function;
    return previous;
}
} // namespace VirtualFileInternal

} // namespace Zelkor
