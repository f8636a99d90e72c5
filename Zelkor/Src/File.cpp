// CFile and the translation of open modes into the platform's access and share bits.
#include "File.h"

#include <atomic>

#include "Errors.h"

namespace Zelkor {

namespace {
constexpr const wchar_t* SourcePath = L"Src/File";

uint32_t DispositionFromMode(FileOpenMode mode)
{
    if ((mode & FM_Create) == 0)
        return (mode & FM_CreateNew) != 0 ? CREATE_NEW : OPEN_EXISTING;
    return (mode & FM_NoTruncate) != 0 ? OPEN_ALWAYS : CREATE_ALWAYS;
}
} // namespace

namespace {
std::atomic<int64_t> FileLayerBlocks{0};
} // namespace

void* FileLayerHeap::Alloc(uint64_t size)
{
    if (AllocInternal::InjectedFailure())
        ThrowMemoryException();
    void* block = RuntimeHeap::Alloc(size);
    FileLayerBlocks.fetch_add(1, std::memory_order_relaxed);
    return block;
}

void FileLayerHeap::Free(void* block) noexcept
{
    if (block == nullptr)
        return;
    FileLayerBlocks.fetch_sub(1, std::memory_order_relaxed);
    RuntimeHeap::Free(block);
}

int64_t FileLayerHeap::GetBlockCount()
{
    return FileLayerBlocks.load(std::memory_order_relaxed);
}

uint32_t AccessFromMode(FileOpenMode mode)
{
    switch (mode & FM_AccessField) {
    case FM_Read: return GENERIC_READ;
    case FM_Write: return GENERIC_WRITE;
    case FM_ReadWrite: return GENERIC_READ | GENERIC_WRITE;
    case FM_ReadExecute: return GENERIC_READ | GENERIC_EXECUTE;
    case FM_ReadWriteExecute: return GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE;
    default: Check(false, ZELKOR_HERE(SourcePath)); return 0;
    }
}

uint32_t ShareFromMode(FileOpenMode mode)
{
    switch (mode & FM_SharingField) {
    case FM_DenyRead: return FILE_SHARE_WRITE;
    case FM_DenyWrite: return FILE_SHARE_READ;
    case FM_DenyAll: return 0;
    case FM_DenyNone: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default: Check(false, ZELKOR_HERE(SourcePath)); return 0;
    }
}

bool CBaseFile::IsEndOfFile()
{
    const int64_t length = GetLength();
    return length == GetPosition();
}

CFile::~CFile()
{
    try {
        CloseThroughFileSystem(false);
    } catch (CException* e) {
        ReportUnpropagated(e);
        delete e;
    }
}

void CFile::Open(const CUnicodeString& path, FileOpenMode mode, uint32_t flagsAndAttributes, int64_t initialSize)
{
    if (!Check(implementation == nullptr, ZELKOR_HERE(SourcePath)))
        return;
    const uint32_t access = AccessFromMode(mode);
    const uint32_t share = ShareFromMode(mode);
    const uint32_t disposition = DispositionFromMode(mode);
    CFileSystemBase& system = GetFileSystem(path);
    // CREATE_ALWAYS over a hidden or system file fails unless the new attributes keep those bits.
    if (disposition == CREATE_ALWAYS && (flagsAndAttributes & FILE_ATTRIBUTE_NORMAL) != 0 &&
        system.FileExists(path, FM_Exists))
        flagsAndAttributes |= system.GetAttributes(path) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    CBaseFile* opened =
        system.OpenFile(path, access, share, nullptr, disposition, flagsAndAttributes, nullptr, initialSize);
    implementation = opened;
    fileSystem = &system;
}

CUnicodeString CFile::GetFileName()
{
    if (!Check(IsOpen(), ZELKOR_HERE(SourcePath)))
        return CUnicodeString();
    return implementation->GetFileName();
}

int32_t CFile::Read(void* buffer, int32_t count)
{
    if (count == 0)
        return 0;
    if (!Check(buffer != nullptr, ZELKOR_HERE(SourcePath)) || !Check(count >= 1, ZELKOR_HERE(SourcePath)) ||
        !Check(IsOpen(), ZELKOR_HERE(SourcePath)))
        return 0;
    return implementation->Read(buffer, count);
}

void CFile::Write(const void* buffer, int32_t count)
{
    if (count == 0)
        return;
    if (!Check(buffer != nullptr, CheckSite::FileWriteNullBuffer) || !Check(count >= 1, CheckSite::FileWriteBadCount) ||
        !Check(IsOpen(), CheckSite::FileWriteClosed))
        return;
    implementation->Write(buffer, count);
}

int64_t CFile::GetPosition()
{
    if (!Check(IsOpen(), ZELKOR_HERE(SourcePath)))
        return 0;
    return implementation->GetPosition();
}

int64_t CFile::Seek(int64_t offset, uint32_t origin)
{
    if (!Check(origin <= FILE_END, ZELKOR_HERE(SourcePath)) || !Check(IsOpen(), ZELKOR_HERE(SourcePath)))
        return 0;
    return implementation->Seek(offset, origin);
}

void CFile::SetLength(int64_t length)
{
    if (!Check(length >= 0, ZELKOR_HERE(SourcePath)) || !Check(IsOpen(), ZELKOR_HERE(SourcePath)))
        return;
    implementation->SetLength(length);
}

int64_t CFile::GetLength()
{
    if (!Check(IsOpen(), ZELKOR_HERE(SourcePath)))
        return 0;
    return implementation->GetLength();
}

void CFile::Flush()
{
    if (!Check(IsOpen(), ZELKOR_HERE(SourcePath)))
        return;
    implementation->Flush();
}

bool CFile::IsEndOfFile()
{
    if (!Check(IsOpen(), ZELKOR_HERE(SourcePath)))
        return false;
    return implementation->IsEndOfFile();
}

void CFile::Abort()
{
    CloseThroughFileSystem(true);
}

void CFile::Close()
{
    CloseThroughFileSystem(false);
}

// Both fields are cleared before the file system is called, so the CFile is closed even when
// closing raises; the file system destroys the implementation in either case.
void CFile::CloseThroughFileSystem(bool abort)
{
    if (implementation == nullptr)
        return;
    CBaseFile* closing = implementation;
    CFileSystemBase* owner = fileSystem;
    implementation = nullptr;
    fileSystem = nullptr;
    owner->CloseFile(closing, abort);
}

} // namespace Zelkor
