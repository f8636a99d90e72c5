// Sections, their windows, and the intrusive lists.
#include "FileMapping.h"

#include "Errors.h"

namespace Zelkor {

namespace {

constexpr const wchar_t* SourcePath = L"Src/FileMapping";

const uint32_t SectionProtection[] = {PAGE_READONLY, PAGE_READWRITE, PAGE_EXECUTE_READ, PAGE_EXECUTE_READWRITE};

// The platform reports an exhausted page file as error 8; that one is the memory exception.
[[noreturn]] void RaisePlatformFailure(uint32_t errorCode)
{
    if (errorCode == ERROR_NOT_ENOUGH_MEMORY)
        ThrowMemoryException();
    ThrowLastErrorException(errorCode);
    // Reached only while failures are shown instead of thrown; the caller has nothing to use.
    ThrowMemoryException();
}

} // namespace

CListNodeBase::~CListNodeBase()
{
    if (list != nullptr)
        list->Unlink(this);
}

CListBase::~CListBase()
{
    CListNodeBase* node = head;
    head = tail = nullptr;
    while (node != nullptr) {
        CListNodeBase* following = node->next;
        node->list = nullptr;
        node->previous = node->next = nullptr;
        delete node;
        node = following;
    }
}

void CListBase::AddHead(CListNodeBase* node)
{
    if (!Check(node != nullptr && node->list == nullptr, ZELKOR_HERE(SourcePath)))
        return;
    node->list = this;
    node->previous = nullptr;
    node->next = head;
    if (head != nullptr)
        head->previous = node;
    else
        tail = node;
    head = node;
}

void CListBase::Unlink(CListNodeBase* node)
{
    if (!Check(node != nullptr && node->list == this, ZELKOR_HERE(SourcePath)))
        return;
    (node->previous != nullptr ? node->previous->next : head) = node->next;
    (node->next != nullptr ? node->next->previous : tail) = node->previous;
    node->list = nullptr;
    node->previous = node->next = nullptr;
}

void CListBase::MoveToHead(CListNodeBase* node)
{
    if (node == head)
        return;
    Unlink(node);
    AddHead(node);
}

CMapping::~CMapping()
{
    try {
        Close();
    } catch (CException* e) {
        ReportUnpropagated(e);
        delete e;
    }
}

void CMapping::Create(MappingMode mode, int64_t size)
{
    if (!Check(section == nullptr, ZELKOR_HERE(SourcePath)) ||
        !Check(mode <= MM_ExecuteReadWrite, ZELKOR_HERE(SourcePath)) || !Check(size >= 0, ZELKOR_HERE(SourcePath)))
        return;
    fileHandle = INVALID_HANDLE_VALUE;
    this->mode = mode;
    CreateSection(size);
}

void CMapping::CreateSection(int64_t size)
{
    if (!Check(size >= 0, ZELKOR_HERE(SourcePath)))
        return;
    // Tests fail sections as an exhausted page file would.
    if (AllocInternal::InjectedFailure())
        ThrowMemoryException();
    HANDLE created = CreateFileMappingW(fileHandle, nullptr, SectionProtection[mode], DWORD(uint64_t(size) >> 32),
                                        DWORD(uint64_t(size)), nullptr);
    if (created == nullptr)
        RaisePlatformFailure(GetLastError());
    section = created;
}

void CMapping::AttachSection(HANDLE handle)
{
    if (!Check(section == nullptr, ZELKOR_HERE(SourcePath)) || !Check(fileHandle != nullptr, ZELKOR_HERE(SourcePath)) ||
        !Check(windows.IsEmpty(), ZELKOR_HERE(SourcePath)) || !Check(handle != nullptr, ZELKOR_HERE(SourcePath)))
        return;
    fileHandle = INVALID_HANDLE_VALUE;
    mode = MM_ReadOnly;
    section = handle;
}

void* CMapping::MapView(uint32_t access, int64_t offset, int32_t size)
{
    if (!Check(section != nullptr, ZELKOR_HERE(SourcePath)) || !Check(offset >= 0, ZELKOR_HERE(SourcePath)) ||
        !Check(size >= 0, ZELKOR_HERE(SourcePath)))
        return nullptr;
    // Windows must start on a granule; the caller's offset may not.
    if (AllocInternal::InjectedFailure())
        ThrowMemoryException();
    const uint64_t delta = uint64_t(offset) % GetAllocationGranularity();
    const uint64_t base = uint64_t(offset) - delta;
    void* start =
        MapViewOfFileEx(section, access, DWORD(base >> 32), DWORD(base), size == 0 ? 0 : SIZE_T(size + delta), nullptr);
    if (start == nullptr)
        RaisePlatformFailure(GetLastError());
    void* pointer = static_cast<unsigned char*>(start) + delta;
    try {
        windows.Set(pointer, start);
    } catch (...) {
        UnmapViewOfFile(start);
        throw;
    }
    return pointer;
}

void CMapping::UnmapView(void* pointer)
{
    void** start = windows.Lookup(pointer);
    if (!Check(start != nullptr, ZELKOR_HERE(SourcePath)))
        return;
    UnmapViewOfFile(*start);
    windows.Delete(pointer);
}

void CMapping::Flush()
{
    for (const auto& window : windows)
        FlushViewOfFile(window.Value, 0);
}

void CMapping::UnmapAll()
{
    for (const auto& window : windows)
        UnmapViewOfFile(window.Value);
    windows.DeleteAll();
    if (section != nullptr) {
        CloseHandle(section);
        section = nullptr;
    }
}

void CMapping::Close()
{
    UnmapAll();
    fileHandle = nullptr;
}

void CMapping::Resize(int64_t size)
{
    if (!Check(section != nullptr, ZELKOR_HERE(SourcePath)) || !Check(size >= 0, ZELKOR_HERE(SourcePath)))
        return;
    UnmapAll();
    CreateSection(size);
}

void CMemoryMapping::Resize(int64_t size)
{
    if (!Check(size >= 1, ZELKOR_HERE(SourcePath)))
        return;
    CMapping::Resize(size);
}

} // namespace Zelkor
