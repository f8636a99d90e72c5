// The in-memory file system under VirtualFilesPrefix: a tree of directories and file nodes
// behind one re-entrant lock, with the operations of CFileSystemBase, wildcard listing and
// copies between virtual and platform files.
//
// Failures raise a CFileException from a platform error code and the path, as the platform
// would: 2 not found, 3 bad path, 5 access denied, 32 sharing violation, 183 already exists.
// A path outside the prefix, an unknown disposition or a negative size is an internal error of
// Src/VirtualFileSystem. Handle operations and CloseFile run without the tree's lock.
//
// Names are kept as the platform keeps them: trailing dots and blanks of a last component
// are dropped, one trailing dot of a level above it. A read-only file refuses writers also
// while others read it. A template handle that is a section becomes the storage of a file
// the open creates; the section is taken over only by an open that succeeds.
#pragma once

#include "FileSystem.h"
#include "Lock.h"
#include "VirtualFile.h"

namespace Zelkor {

class CVirtualFileSystem : public CFileSystemBase {
public:
    // Registers itself as the virtual file system.
    CVirtualFileSystem();
    // Reports every node still present through DebugTrace, then leaves.
    ~CVirtualFileSystem() override;

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
    void CopyFile(const CUnicodeString& destination, const CUnicodeString& source) override;
    void MoveFile(const CUnicodeString& destination, const CUnicodeString& source) override;
    void ReplaceFile(const CUnicodeString& destination, const CUnicodeString& source) override;
    void RenameFile(const CUnicodeString& source, const CUnicodeString& destination) override;
    int32_t GetFreeSpace(const CUnicodeString& path) override;
    void CreateDirectory(const CUnicodeString& path, bool failIfExists) override;
    void RemoveDirectory(const CUnicodeString& path) override;
    bool IsDirectoryEmpty(const CUnicodeString& path) override;
    void FindFiles(const CUnicodeString& directory, CArray<CFileStatus>& list, const CUnicodeString& mask,
                   IFileErrorHandler* handler) override;
    void GetStatus(const CUnicodeString& path, CFileStatus& status) override;
    void SetStatus(const CUnicodeString& path, const CFileStatus& status) override;

    // "*" and "*.*" match everything; otherwise name and extension match separately, '?' any
    // one character, '*' the rest of its part; letter case counts.
    static bool MatchMask(const CUnicodeString& name, const CUnicodeString& mask);

    // Drops every node, writing one debugger line per node still present; for exit and tests.
    void ClearTree();

private:
    // holder: the directory that would hold the path's last component.
    CPtr<CVirtualFileBase> FindNode(const CUnicodeString& path, bool holder = false);
    CPtr<CVirtualFileBase> FindDirectoryToList(const CUnicodeString& path);
    CPtr<CVirtualFileBase> FindExistingNode(const CUnicodeString& path);  // raises ERROR_FILE_NOT_FOUND
    CPtr<CVirtualFileBase> FindDeletableFile(const CUnicodeString& path); // raises 2, 5 or 32
    CVirtualDirectory* CreateDirectories(const CArray<CUnicodeString>& components, int32_t first, int32_t end,
                                         const CUnicodeString& path, CPtr<CVirtualFileBase>& created);
    void RemoveNode(CVirtualFileBase* node);
    void Unlink(CVirtualFileBase* node);
    // node, then each level above it up to the one below stop, unlinked in turn; allocates nothing.
    void UnlinkChain(CVirtualFileBase* node, const CVirtualFileBase* stop);

    enum class OpenAction { OpenExisting, Create, Refused };
    OpenAction DecideByDisposition(const CUnicodeString& path, uint32_t disposition, CVirtualFileData* existing);
    void CheckOpenExisting(const CUnicodeString& path, uint32_t desiredAccess, uint32_t shareMode,
                           CVirtualFileData& file);
    void CheckCreate(const CUnicodeString& path, uint32_t desiredAccess, CVirtualFileData* existing,
                     uint32_t attributes, bool adopting);
    CBaseFile* CreateAndOpen(const CUnicodeString& path, uint32_t desiredAccess, uint32_t shareMode,
                             uint32_t attributes, HANDLE adopted, int64_t initialSize, CVirtualFileData* existing);
    CVirtualFile* OpenHandle(CVirtualFileData* file, uint32_t desiredAccess, uint32_t shareMode);
    bool IsSameFile(const CUnicodeString& destination, const CUnicodeString& source);
    class CTargetUndo;
    void Copy(const CUnicodeString& destination, const CUnicodeString& source, CTargetUndo& undo);
    void CopyVirtualToVirtual(const CUnicodeString& destination, const CUnicodeString& source, CTargetUndo& undo);
    void CopyVirtualToNative(const CUnicodeString& destination, const CUnicodeString& source);
    void CopyNativeToVirtual(const CUnicodeString& destination, const CUnicodeString& source, CTargetUndo& undo);
    void CheckWritableTarget(const CUnicodeString& destination);
    uint32_t TargetAttributes(const CUnicodeString& destination);
    CBaseFile* OpenSource(const CUnicodeString& source);
    CBaseFile* OpenTarget(const CUnicodeString& destination, int64_t length);
    class CHeldFile;

    CCriticalSection lock;
    CPtr<CVirtualDirectory> root;
};

extern CVirtualFileSystem VirtualFileSystemInstance;

} // namespace Zelkor
