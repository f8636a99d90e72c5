// The native file system: most operations are one platform call and a file exception on
// failure. The work of its own: existence checks that never raise, a copy that explains its
// failures, directory creation with the missing parents, listings and status records.
#include "NativeFileSystem.h"

#include "Errors.h"
#include "NativeFile.h"
#include "StartupOrder.h"
#include "Time.h"

namespace Zelkor {

ZELKOR_INIT(ZELKOR_ROW_SERVICES + 20) CNativeFileSystem NativeFileSystemInstance;

namespace {
constexpr const wchar_t* SourcePath = L"Src/NativeFileSystem";
constexpr DWORD SymbolicLinkTag = IO_REPARSE_TAG_SYMLINK;
constexpr DWORD MountPointTag = IO_REPARSE_TAG_MOUNT_POINT;

NativeFileSystemInternal::DiskFreeSpaceFunction DiskFreeSpace = nullptr;

// Some platform calls fail without setting an error (copying a file onto itself under another
// name, on some systems); code 0 would make no file exception.
[[noreturn]] void Raise(const CUnicodeString& path)
{
    const DWORD error = GetLastError();
    ThrowFileException(error != NO_ERROR ? error : ERROR_GEN_FAILURE, path);
}

// Keeps the platform from asking the user about a missing medium while a path is probed. Only
// the calling thread's mode changes: a process-wide mode saved and restored by two threads at
// once could be left changed for good.
class CErrorModeGuard {
public:
    CErrorModeGuard()
    {
        changed = SetThreadErrorMode(GetThreadErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &saved);
    }
    ~CErrorModeGuard()
    {
        if (changed)
            SetThreadErrorMode(saved, nullptr);
    }
    CErrorModeGuard(const CErrorModeGuard&) = delete;
    CErrorModeGuard& operator=(const CErrorModeGuard&) = delete;

private:
    DWORD saved = 0;
    BOOL changed = FALSE;
};

// FindFirstFileW under the guard; the last error is read before the guard is left.
HANDLE FindFirst(const CUnicodeString& pattern, WIN32_FIND_DATAW& data, DWORD& error)
{
    CErrorModeGuard guard;
    const HANDLE search = FindFirstFileW(pattern.GetText(), &data);
    error = search == INVALID_HANDLE_VALUE ? GetLastError() : NO_ERROR;
    return search;
}

CUnicodeString WithBackslashes(const CUnicodeString& path)
{
    CUnicodeString result = path;
    for (int32_t i = 0; i < result.GetLength(); ++i)
        if (result[i] == L'/')
            result.SetAt(i, L'\\');
    return result;
}

bool IsDotEntry(const wchar_t* name)
{
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

bool IsNothingFound(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES;
}

void FillFromFindData(const WIN32_FIND_DATAW& data, CFileStatus& status)
{
    status.CreationTime = FileTimeToValue(data.ftCreationTime);
    status.LastWriteTime = FileTimeToValue(data.ftLastWriteTime);
    status.LastAccessTime = FileTimeToValue(data.ftLastAccessTime);
    status.FileLength = int64_t((uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    status.FileAttributes = data.dwFileAttributes;
    const bool isReparsePoint = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    status.IsSymbolicLink = isReparsePoint && data.dwReserved0 == SymbolicLinkTag;
    status.IsMountPoint = isReparsePoint && data.dwReserved0 == MountPointTag;
}

// The volume and index that identify an existing file (or directory) whatever its name.
bool GetFileIdentity(const CUnicodeString& path, BY_HANDLE_FILE_INFORMATION& identity)
{
    const HANDLE file = CreateFileW(path.GetText(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool known = GetFileInformationByHandle(file, &identity) != FALSE;
    CloseHandle(file);
    return known;
}

// Two names of one existing file. Where the platform cannot tell identities, equal full paths
// without regard to case count as one file.
bool NameSameExistingFile(const CUnicodeString& first, const CUnicodeString& second)
{
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    if (!GetFileIdentity(first, a) || !GetFileIdentity(second, b))
        return false;
    // Known identities decide alone: a case-sensitive directory may hold two files whose names
    // differ only in case.
    if ((a.nFileIndexHigh | a.nFileIndexLow) != 0 && (b.nFileIndexHigh | b.nFileIndexLow) != 0)
        return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
            a.nFileIndexLow == b.nFileIndexLow;
    // GCOVR_EXCL_START: Wine gives every file an index (its inode)
    try {
        CUnicodeString fullFirst = StripLongPrefix(first), fullSecond = StripLongPrefix(second);
        GetFullPath(fullFirst);
        GetFullPath(fullSecond);
        return WithBackslashes(fullFirst).CompareNoCase(WithBackslashes(fullSecond)) == 0;
    } catch (CException* e) {
        delete e;
        return false;
    }
    // GCOVR_EXCL_STOP
}

// The copy's fallback deletes the destination only after making sure it could write there.
void CheckWritableTarget(CNativeFileSystem& system, const CUnicodeString& destination)
{
    if (!system.FileExists(destination, FM_Exists)) {
        CUnicodeString full = destination;
        GetFullPath(full);
        const CUnicodeString directory = ExtractPath(full);
        if (!system.DirectoryExists(directory))
            ThrowFileExceptionOfKind(FileErrorKind::BadPath, directory);
        return;
    }
    if (!system.FileExists(destination, FM_Write | FM_DenyAll))
        ThrowFileExceptionOfKind(FileErrorKind::AccessDenied, destination);
}

// CreateDirectoryW's error, with 0 for success.
DWORD TryCreateDirectory(const CUnicodeString& path)
{
    return ::CreateDirectoryW(path.GetText(), nullptr) ? NO_ERROR : GetLastError();
}

bool IsMissingParent(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// An existing entry of that name counts only when it is a directory: a file there is no success.
bool IsCreated(DWORD error, const CUnicodeString& path, bool failIfExists)
{
    if (error == NO_ERROR)
        return true;
    const DWORD attributes =
        error == ERROR_ALREADY_EXISTS && !failIfExists ? GetFileAttributesW(path.GetText()) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A copy or move with one end in the virtual file system is that file system's: it reads and
// writes both kinds of files.
CFileSystemBase* VirtualEnd(const CUnicodeString& destination, const CUnicodeString& source)
{
    if (IsVirtualPath(destination))
        return &GetFileSystem(destination);
    return IsVirtualPath(source) ? &GetFileSystem(source) : nullptr;
}
} // namespace

CNativeFileSystem::CNativeFileSystem()
{
    FileSystemInternal::RegisterNativeFileSystem(this);
}

CNativeFileSystem::~CNativeFileSystem() // GCOVR_EXCL_START: at exit, after the counts are written
{
    FileSystemInternal::RegisterNativeFileSystem(nullptr);
} // GCOVR_EXCL_STOP

CBaseFile* CNativeFileSystem::OpenFile(const CUnicodeString& path, uint32_t desiredAccess, uint32_t shareMode,
                                       SECURITY_ATTRIBUTES* security, uint32_t creationDisposition,
                                       uint32_t flagsAndAttributes, HANDLE templateFile, int64_t)
{
    CNativeFile* file = new CNativeFile(path);
    try {
        GetFullPath(file->name);
        file->handle = CreateFileW(file->name.GetText(), desiredAccess, shareMode, security, creationDisposition,
                                   flagsAndAttributes, templateFile);
        if (file->handle == INVALID_HANDLE_VALUE)
            Raise(file->name);
    } catch (...) {
        delete file;
        throw;
    }
    return file;
}

void CNativeFileSystem::CloseFile(CBaseFile* file, bool abort)
{
    if (!Check(file != nullptr, ZELKOR_HERE(SourcePath)))
        return;
    try {
        if (abort)
            file->Abort();
        else
            file->Close();
    } catch (...) {
        delete file;
        throw;
    }
    delete file;
}

bool CNativeFileSystem::DirectoryExists(const CUnicodeString& path)
{
    if (path.IsEmpty())
        return false;
    try {
        CUnicodeString full = path;
        GetFullPath(full);
        const CUnicodeString s = StripLongPrefix(full);
        if (s.GetLength() < 3)
            return false;
        if (s[0] == L'\\' || s[0] == L'/') {
            if (GetPathKind(s) != PK_Unc)
                return false;
        } else if (s[1] != L':') {
            return false;
        }
        if (s.GetLength() == 3 && (s[2] == L'\\' || s[2] == L'/'))
            return GetDriveTypeW(s.GetText()) != DRIVE_NO_ROOT_DIR;
        WIN32_FIND_DATAW data;
        DWORD error = NO_ERROR;
        const HANDLE search = FindFirst(MakeAbsolutePath(full, L"*"), data, error);
        if (search == INVALID_HANDLE_VALUE)
            return false;
        FindClose(search);
        return true;
    } catch (CFileException* e) {
        delete e;
        return false;
    }
}

bool CNativeFileSystem::FileExists(const CUnicodeString& path, FileOpenMode mode)
{
    if (path.IsEmpty()) {
        SetLastError(ERROR_PATH_NOT_FOUND); // as the failed open would; the copy reports it
        return false;
    }
    if (mode == FM_Exists) {
        WIN32_FIND_DATAW data;
        DWORD error = NO_ERROR;
        const HANDLE search = FindFirst(path, data, error);
        if (search == INVALID_HANDLE_VALUE)
            return false;
        FindClose(search);
        return true;
    }
    if (!Check((mode & FM_SharingField) != 0, ZELKOR_HERE(SourcePath)))
        return false;
    // On failure the last error stays as CreateFileW left it; the copy's fallback reads it.
    const HANDLE file = CreateFileW(path.GetText(), AccessFromMode(mode), ShareFromMode(mode), nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

void CNativeFileSystem::SetAttributes(const CUnicodeString& path, uint32_t attributes)
{
    if (!SetFileAttributesW(path.GetText(), attributes))
        Raise(path);
}

uint32_t CNativeFileSystem::GetAttributes(const CUnicodeString& path)
{
    const DWORD attributes = GetFileAttributesW(path.GetText());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        Raise(path);
    return attributes;
}

void CNativeFileSystem::DeleteFile(const CUnicodeString& path)
{
    if (!::DeleteFileW(path.GetText()))
        Raise(path);
}

bool CNativeFileSystem::TryDeleteFile(const CUnicodeString& path)
{
    return ::DeleteFileW(path.GetText()) != FALSE;
}

void CNativeFileSystem::CopyFile(const CUnicodeString& destination, const CUnicodeString& source)
{
    if (CFileSystemBase* other = VirtualEnd(destination, source))
        return other->CopyFile(destination, source);
    // The fallback below deletes the destination; were it the source under another name, the
    // user's file would be gone.
    if (destination == source || NameSameExistingFile(destination, source))
        return;
    if (::CopyFileW(source.GetText(), destination.GetText(), FALSE))
        return;
    if (!FileExists(source, FM_Read | FM_DenyWrite))
        Raise(source);
    CheckWritableTarget(*this, destination);
    if (FileExists(destination, FM_Exists))
        DeleteFile(destination);
    if (!::CopyFileW(source.GetText(), destination.GetText(), FALSE))
        Raise(destination);
}

void CNativeFileSystem::MoveFile(const CUnicodeString& destination, const CUnicodeString& source)
{
    if (CFileSystemBase* other = VirtualEnd(destination, source))
        return other->MoveFile(destination, source);
    if (!::MoveFileExW(source.GetText(), destination.GetText(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
        Raise(destination);
}

void CNativeFileSystem::ReplaceFile(const CUnicodeString& destination, const CUnicodeString& source)
{
    if (CFileSystemBase* other = VirtualEnd(destination, source))
        return other->ReplaceFile(destination, source);
    if (!::MoveFileExW(source.GetText(), destination.GetText(), MOVEFILE_REPLACE_EXISTING))
        Raise(destination);
}

void CNativeFileSystem::RenameFile(const CUnicodeString& source, const CUnicodeString& destination)
{
    if (CFileSystemBase* other = VirtualEnd(destination, source))
        return other->RenameFile(source, destination);
    if (!::MoveFileW(source.GetText(), destination.GetText()))
        Raise(destination);
}

int32_t CNativeFileSystem::GetFreeSpace(const CUnicodeString& path)
{
    const CUnicodeString root = WithBackslashes(GetRoot(path));
    ULARGE_INTEGER available{}, total{};
    const auto query = DiskFreeSpace != nullptr ? DiskFreeSpace : GetDiskFreeSpaceExW;
    if (!query(root.GetText(), &available, &total, nullptr))
        Raise(root);
    const uint64_t kibibytes = available.QuadPart / 1024;
    return kibibytes > 0x7FFFFFFF ? 0x7FFFFFFF : int32_t(kibibytes);
}

// Missing parents are created from the top down. The walk up is a loop, not a recursion, so
// that a path of thousands of components cannot exhaust the stack.
void CNativeFileSystem::CreateDirectory(const CUnicodeString& path, bool failIfExists)
{
    DWORD error = TryCreateDirectory(path);
    if (IsCreated(error, path, failIfExists))
        return;
    if (IsMissingParent(error)) {
        CArray<CUnicodeString> missing;
        CUnicodeString parent = path;
        while (RemoveLastPathComponent(parent)) {
            const DWORD parentError = TryCreateDirectory(parent);
            if (parentError == NO_ERROR || parentError == ERROR_ALREADY_EXISTS)
                break;
            if (!IsMissingParent(parentError))
                ThrowFileException(parentError, parent);
            missing.Add(parent);
        }
        for (int32_t i = missing.GetSize() - 1; i >= 0; --i) {
            const DWORD parentError = TryCreateDirectory(missing[i]);
            if (parentError != NO_ERROR && parentError != ERROR_ALREADY_EXISTS)
                ThrowFileException(parentError, missing[i]);
        }
        error = TryCreateDirectory(path);
        if (IsCreated(error, path, failIfExists))
            return;
    }
    ThrowFileException(error, path);
}

void CNativeFileSystem::RemoveDirectory(const CUnicodeString& path)
{
    if (!::RemoveDirectoryW(path.GetText()))
        Raise(path);
}

bool CNativeFileSystem::IsDirectoryEmpty(const CUnicodeString& path)
{
    // An empty path would list the current directory.
    if (path.IsEmpty())
        ThrowFileException(ERROR_PATH_NOT_FOUND, path);
    WIN32_FIND_DATAW data;
    DWORD error = NO_ERROR;
    const HANDLE search = FindFirst(MakeAbsolutePath(path, L"*.*"), data, error);
    if (search == INVALID_HANDLE_VALUE) {
        if (IsNothingFound(error))
            return true;
        ThrowFileException(error, path);
    }
    bool empty = true;
    do {
        if (!IsDotEntry(data.cFileName)) {
            empty = false;
            break;
        }
    } while (FindNextFileW(search, &data));
    error = empty ? GetLastError() : NO_ERROR;
    if (!FindClose(search))
        Raise(path);
    if (empty && !IsNothingFound(error))
        ThrowFileException(error, path);
    return empty;
}

void CNativeFileSystem::FindFiles(const CUnicodeString& directory, CArray<CFileStatus>& list,
                                  const CUnicodeString& mask, IFileErrorHandler* handler)
{
    list.DeleteAll();
    // An empty directory would list the current one.
    if (directory.IsEmpty()) {
        FileSystemInternal::ReportFileError(ERROR_PATH_NOT_FOUND, directory, handler);
        return;
    }
    WIN32_FIND_DATAW data;
    DWORD error = NO_ERROR;
    const HANDLE search = FindFirst(MakeAbsolutePath(directory, mask), data, error);
    if (search == INVALID_HANDLE_VALUE) {
        FileSystemInternal::ReportFileError(IsNothingFound(error) ? NO_ERROR : error, directory, handler);
        return;
    }
    try {
        do {
            if (IsDotEntry(data.cFileName))
                continue;
            CFileStatus status;
            status.FileName = data.cFileName;
            status.FullName = MakeAbsolutePath(directory, status.FileName);
            FillFromFindData(data, status);
            list.Add(std::move(status));
        } while (FindNextFileW(search, &data));
        error = GetLastError();
        FileSystemInternal::ReportFileError(IsNothingFound(error) ? NO_ERROR : error, directory, handler);
    } catch (...) {
        FindClose(search);
        throw;
    }
    if (!FindClose(search))
        FileSystemInternal::ReportFileError(GetLastError(), directory, handler);
}

void CNativeFileSystem::GetStatus(const CUnicodeString& path, CFileStatus& status)
{
    status.FullName = path;
    status.FileName = ExtractFileName(path);
    if (path.IsEmpty())
        return; // names nothing; the current directory is not meant
    const PathKind kind = GetPathKind(path);
    if (kind == PK_Unc || kind == PK_Absolute) {
        const CUnicodeString drive = ExtractDrive(path);
        if (path == drive || path == drive + L"\\") {
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (!GetFileAttributesExW(status.FullName.GetText(), GetFileExInfoStandard, &data))
                Raise(path);
            status.FileAttributes = data.dwFileAttributes;
            status.CreationTime = FileTimeToValue(data.ftCreationTime);
            status.LastWriteTime = FileTimeToValue(data.ftLastWriteTime);
            status.LastAccessTime = FileTimeToValue(data.ftLastAccessTime);
            status.FileLength = int64_t((uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
            return;
        }
    } else {
        // Against the current directory by the path's kind: a rooted or drive-relative path
        // joined below the current directory would name another file.
        status.FullName = MakeAbsolutePath(CurrentDirectory(), path);
    }
    CUnicodeString query = status.FullName;
    if (!query.IsEmpty() && query[query.GetLength() - 1] == L'\\')
        query.SetLength(query.GetLength() - 1);
    WIN32_FIND_DATAW data;
    DWORD error = NO_ERROR;
    const HANDLE search = FindFirst(query, data, error);
    if (search == INVALID_HANDLE_VALUE)
        return;
    // Closed before the entry is read: a time that cannot be converted is an internal error.
    FindClose(search);
    FillFromFindData(data, status);
}

void CNativeFileSystem::SetStatus(const CUnicodeString& path, const CFileStatus& status)
{
    const DWORD current = GetAttributes(path);
    const bool attributesChange = current != status.FileAttributes;
    // A read-only file refuses new times: the flag goes first when it is being removed, last
    // when it is being set.
    if (attributesChange && (current & FILE_ATTRIBUTE_READONLY) != 0)
        SetAttributes(path, status.FileAttributes);
    if (status.CreationTime != 0 || status.LastAccessTime != 0 || status.LastWriteTime != 0) {
        // Backup semantics let a directory be opened too; a plain file opens as without them.
        const HANDLE file = CreateFileW(path.GetText(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            Raise(path);
        const FILETIME creation = ValueToFileTime(status.CreationTime), access = ValueToFileTime(status.LastAccessTime),
                       write = ValueToFileTime(status.LastWriteTime);
        if (!SetFileTime(file, status.CreationTime != 0 ? &creation : nullptr,
                         status.LastAccessTime != 0 ? &access : nullptr,
                         status.LastWriteTime != 0 ? &write : nullptr)) {
            const DWORD error = GetLastError();
            CloseHandle(file);
            ThrowFileException(error, path);
        }
        if (!CloseHandle(file))
            Raise(path);
    }
    if (attributesChange && (current & FILE_ATTRIBUTE_READONLY) == 0)
        SetAttributes(path, status.FileAttributes);
}

namespace NativeFileSystemInternal {
DiskFreeSpaceFunction SetDiskFreeSpaceFunctionForTest(DiskFreeSpaceFunction function)
{
    const DiskFreeSpaceFunction previous = DiskFreeSpace;
    DiskFreeSpace = function;
    return previous;
}
} // namespace NativeFileSystemInternal

} // namespace Zelkor
