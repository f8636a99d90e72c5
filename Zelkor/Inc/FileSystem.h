// The file-system interface and path names. Callers never name a file system: GetFileSystem
// picks the native or the virtual one from the text of a path.
//
// Path names: classifying, splitting, composing and normalising them. Both '\' and '/' count
// as separators everywhere. All functions but GetFullPath, CurrentDirectory and ModuleFileName
// are pure text operations and keep no state, so they may run on any thread. The three that ask
// the platform raise a file exception with the platform's error code; violated contracts are
// internal errors of Src/FileSystem.
#pragma once

#include <windows.h>

#include <cstdint>

#include "Array.h"
#include "UnicodeString.h"

// winbase.h still defines GetFreeSpace of 16-bit Windows as a constant; the name is ours here.
#undef GetFreeSpace

namespace Zelkor {

class CBaseFile;
class CFileException;

enum PathKind : int32_t {
    PK_Relative = 0,      // "", "a", "a\b"
    PK_Rooted = 1,        // "\", "\a", "\/x"
    PK_Unc = 2,           // "\\srv\share", "//srv", "\\?\UNC\srv"
    PK_DriveRelative = 3, // "C:", "C:x"
    PK_Absolute = 4,      // "C:\x", "\\?\C:\x"
};

// The long-path prefixes, built at start-up.
extern const CUnicodeString LongUncPrefix;  // "\\?\UNC\"
extern const CUnicodeString LongPathPrefix; // "\\?\"

PathKind GetPathKind(const CUnicodeString& path);

// "\\?\UNC\" (any case) becomes "//"; otherwise "\\?\" (exact) is removed.
CUnicodeString StripLongPrefix(const CUnicodeString& path);
bool HasLongPrefix(const CUnicodeString& path);
// Gives a share or absolute path its long prefix and turns every '/' into '\'. False when the
// path already had one; any other kind is an internal error (false when that returns).
bool AddLongPrefix(CUnicodeString& path);

// The non-empty components left to right ("C:x\y" gives "C:", "x", "y"); returns the kind.
PathKind SplitPath(const CUnicodeString& path, CArray<CUnicodeString>& components);
CUnicodeString JoinPath(const CUnicodeString& base, const CUnicodeString& tail);
// The directory part of the first with the name and extension of the second.
CUnicodeString MergePath(const CUnicodeString& directory, const CUnicodeString& file);
CUnicodeString MakePath(const CUnicodeString& drive, const CUnicodeString& directory, const CUnicodeString& name,
                        const CUnicodeString& extension);
CUnicodeString MakeAbsolutePath(const CUnicodeString& base, const CUnicodeString& path);
// "C:\" or "\\server\share\" (long prefix kept); "\" for a path without drive.
CUnicodeString GetRoot(const CUnicodeString& path);

CUnicodeString ExtractDrive(const CUnicodeString& path);     // "C:" or empty
CUnicodeString ExtractDirectory(const CUnicodeString& path); // after the drive, up to the last separator
CUnicodeString ExtractName(const CUnicodeString& path);      // without extension
CUnicodeString ExtractExtension(const CUnicodeString& path); // from the last '.', dot included
CUnicodeString ExtractPath(const CUnicodeString& path);      // drive and directory, long prefix kept
CUnicodeString ExtractFileName(const CUnicodeString& path);  // name and extension

CUnicodeString AddPathSeparator(const CUnicodeString& path);
// Cuts the last component; false (path unchanged) when the parent would be no path, a bare
// drive or a bare server.
bool RemoveLastPathComponent(CUnicodeString& path);

// These ask the platform.
void GetFullPath(CUnicodeString& path);
CUnicodeString CurrentDirectory();
CUnicodeString ModuleFileName(HMODULE module);

// Open modes: an access field (mode & FM_AccessField), a sharing field (mode & FM_SharingField)
// and creation bits.
using FileOpenMode = uint32_t;
constexpr FileOpenMode FM_AccessField = 0x7;
constexpr FileOpenMode FM_SharingField = 0x70;
constexpr FileOpenMode FM_Read = 0x1;
constexpr FileOpenMode FM_Write = 0x2;
constexpr FileOpenMode FM_ReadWrite = 0x3;
constexpr FileOpenMode FM_ReadExecute = 0x4;
constexpr FileOpenMode FM_ReadWriteExecute = 0x7;
constexpr FileOpenMode FM_DenyRead = 0x10;
constexpr FileOpenMode FM_DenyWrite = 0x20;
constexpr FileOpenMode FM_DenyAll = 0x30;
constexpr FileOpenMode FM_DenyNone = 0x40;
constexpr FileOpenMode FM_Create = 0x1000;
constexpr FileOpenMode FM_NoTruncate = 0x2000;
constexpr FileOpenMode FM_CreateNew = 0x4000;
constexpr FileOpenMode FM_Exists = 0xFF00FF00; // FileExists only: an entry of that name exists

// GENERIC_* bits of the access field; an access field of 0, 5 or 6 is an internal error (0).
uint32_t AccessFromMode(FileOpenMode mode);
// FILE_SHARE_* bits of the sharing field; 0 or 0x50 and above is an internal error (0).
uint32_t ShareFromMode(FileOpenMode mode);

// One directory entry. Times are file times (see Time.h).
struct CFileStatus {
    CUnicodeString FullName;
    CUnicodeString FileName; // name and extension, no directory
    int64_t CreationTime = 0;
    int64_t LastWriteTime = 0;
    int64_t LastAccessTime = 0;
    int64_t FileLength = 0;
    uint32_t FileAttributes = 0; // FILE_ATTRIBUTE_*
    bool IsSymbolicLink = false; // reparse tag 0xA000000C
    bool IsMountPoint = false;   // reparse tag 0xA0000003
};

class IFileErrorHandler {
public:
    virtual ~IFileErrorHandler() = default;
    // True: the error is handled and the operation goes on. The handler does not delete it.
    virtual bool HandleError(CFileException* exception) = 0;
};

// The contract both file systems keep. Failures raise a CFileException built from a platform
// error code and the path. Note the argument order: CopyFile, MoveFile and ReplaceFile take
// the destination first, RenameFile the source first.
class CFileSystemBase {
public:
    virtual ~CFileSystemBase() = default; // GCOVR_EXCL_LINE: at exit, after the counts are written

    // The caller owns the result until it hands it to CloseFile of the same file system. The
    // template handle and the initial size matter only to the virtual file system.
    virtual CBaseFile* OpenFile(const CUnicodeString& path, uint32_t desiredAccess, uint32_t shareMode,
                                SECURITY_ATTRIBUTES* security, uint32_t creationDisposition,
                                uint32_t flagsAndAttributes, HANDLE templateFile, int64_t initialSize) = 0;
    // Closes (abort: ignoring errors) and destroys the file, also when closing raises.
    virtual void CloseFile(CBaseFile* file, bool abort) = 0;
    virtual bool DirectoryExists(const CUnicodeString& path) = 0; // never raises for a missing path
    // FM_Exists: an entry of that name exists; otherwise: it opens with the mode's access and sharing.
    virtual bool FileExists(const CUnicodeString& path, FileOpenMode mode) = 0;
    virtual void SetAttributes(const CUnicodeString& path, uint32_t attributes) = 0;
    virtual uint32_t GetAttributes(const CUnicodeString& path) = 0;
    virtual void DeleteFile(const CUnicodeString& path) = 0;
    virtual bool TryDeleteFile(const CUnicodeString& path) = 0; // false instead of raising
    virtual void CopyFile(const CUnicodeString& destination, const CUnicodeString& source) = 0;
    virtual void MoveFile(const CUnicodeString& destination, const CUnicodeString& source) = 0;
    virtual void ReplaceFile(const CUnicodeString& destination, const CUnicodeString& source) = 0;
    virtual void RenameFile(const CUnicodeString& source, const CUnicodeString& destination) = 0;
    virtual int32_t GetFreeSpace(const CUnicodeString& path) = 0;                    // KiB, at most 2147483647
    virtual void CreateDirectory(const CUnicodeString& path, bool failIfExists) = 0; // parents too
    virtual void RemoveDirectory(const CUnicodeString& path) = 0;
    virtual bool IsDirectoryEmpty(const CUnicodeString& path) = 0;
    // Lists the entries of directory that match mask; the native file system empties list
    // first, the virtual one appends. handler (may be null) may absorb each error, otherwise the
    // list keeps what was gathered before it.
    virtual void FindFiles(const CUnicodeString& directory, CArray<CFileStatus>& list, const CUnicodeString& mask,
                           IFileErrorHandler* handler) = 0;
    // A missing path: the native file system names it in status and raises nothing, the
    // virtual one raises ERROR_FILE_NOT_FOUND.
    virtual void GetStatus(const CUnicodeString& path, CFileStatus& status) = 0;
    virtual void SetStatus(const CUnicodeString& path, const CFileStatus& status) = 0; // attributes and times
};

// "\\Quorell\Zelkor\VirtualFiles$\": every path that begins with it, in any letter case, is
// served by the virtual file system. Built at start-up.
extern const CUnicodeString VirtualFilesPrefix;

bool IsVirtualPath(const CUnicodeString& path);
// The virtual file system for a virtual path, the native one otherwise; an instance that is
// not registered is an internal error.
CFileSystemBase& GetFileSystem(const CUnicodeString& path);

namespace FileSystemInternal {
// The two process-wide file systems register themselves at start-up and leave at exit
// (null). Registering over a registered instance is an internal error.
void RegisterNativeFileSystem(CFileSystemBase* instance);
void RegisterVirtualFileSystem(CFileSystemBase* instance);

// A listing's failure: nothing for NO_ERROR; otherwise the file exception for error and path,
// which the handler may accept (it is then deleted) or which is thrown.
void ReportFileError(uint32_t error, const CUnicodeString& path, IFileErrorHandler* handler);
} // namespace FileSystemInternal

} // namespace Zelkor
