// The file system of the platform: every path outside the virtual prefix. It keeps no state,
// so its one instance serves every thread. Platform failures raise a CFileException built from
// the platform's error code and a path (for the move family, the destination).
#pragma once

#include "FileSystem.h"

namespace Zelkor {

class CNativeFileSystem final : public CFileSystemBase {
public:
    // Registers as the native file system; a second instance is an internal error.
    CNativeFileSystem();
    ~CNativeFileSystem() override;

    CBaseFile* OpenFile(const CUnicodeString& path, uint32_t desiredAccess, uint32_t shareMode,
                        SECURITY_ATTRIBUTES* security, uint32_t creationDisposition, uint32_t flagsAndAttributes,
                        HANDLE templateFile, int64_t initialSize) override;
    void CloseFile(CBaseFile* file, bool abort) override;
    bool DirectoryExists(const CUnicodeString& path) override;
    bool FileExists(const CUnicodeString& path, FileOpenMode mode) override;
    void SetAttributes(const CUnicodeString& path, uint32_t attributes) override;
    uint32_t GetAttributes(const CUnicodeString& path) override;
    void DeleteFile(const CUnicodeString& path) override;
    bool TryDeleteFile(const CUnicodeString& path) override;
    // The copy and move family hands a pair with a virtual end to the virtual file system.
    // Two names of one existing file leave it untouched, like equal names.
    void CopyFile(const CUnicodeString& destination, const CUnicodeString& source) override;
    void MoveFile(const CUnicodeString& destination, const CUnicodeString& source) override;
    void ReplaceFile(const CUnicodeString& destination, const CUnicodeString& source) override;
    void RenameFile(const CUnicodeString& source, const CUnicodeString& destination) override;
    int32_t GetFreeSpace(const CUnicodeString& path) override;
    // An existing file of that name is no directory: ERROR_ALREADY_EXISTS, also without failIfExists.
    void CreateDirectory(const CUnicodeString& path, bool failIfExists) override;
    void RemoveDirectory(const CUnicodeString& path) override;
    bool IsDirectoryEmpty(const CUnicodeString& path) override;
    void FindFiles(const CUnicodeString& directory, CArray<CFileStatus>& list, const CUnicodeString& mask,
                   IFileErrorHandler* handler) override;
    void GetStatus(const CUnicodeString& path, CFileStatus& status) override;
    // Directories take new times as files do.
    void SetStatus(const CUnicodeString& path, const CFileStatus& status) override;
};

extern CNativeFileSystem NativeFileSystemInstance;

namespace NativeFileSystemInternal {
// For tests only: the platform's GetDiskFreeSpaceExW behind GetFreeSpace (null: the real one);
// returns the previous function.
using DiskFreeSpaceFunction = BOOL(WINAPI*)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
DiskFreeSpaceFunction SetDiskFreeSpaceFunctionForTest(DiskFreeSpaceFunction function);
} // namespace NativeFileSystemInternal

} // namespace Zelkor
