// The virtual file system: the tree, its lock and the file-system operations.
#include "VirtualFileSystem.h"

#include <algorithm>
#include <cwchar>

#include "Errors.h"
#include "File.h"
#include "GuardedStatic.h"
#include "StartupOrder.h"

namespace Zelkor {

ZELKOR_INIT(ZELKOR_ROW_VIRTUAL_FILE_SYSTEM) CVirtualFileSystem VirtualFileSystemInstance;

namespace {

constexpr const wchar_t* SourcePath = L"Src/VirtualFileSystem";

bool CheckVirtual(const CUnicodeString& path)
{
    return Check(IsVirtualPath(path), ZELKOR_HERE(SourcePath));
}

CVirtualFileData* AsFile(const CPtr<CVirtualFileBase>& node)
{
    return dynamic_cast<CVirtualFileData*>(node.Get());
}

CVirtualDirectory* AsDirectory(const CPtr<CVirtualFileBase>& node)
{
    return dynamic_cast<CVirtualDirectory*>(node.Get());
}

int32_t PrefixComponentCount()
{
    CArray<CUnicodeString> components;
    SplitPath(VirtualFilesPrefix, components);
    return components.GetSize();
}

// One component in the form the tree keys it by, which is how the platform names files: the
// last component of a path loses its trailing dots and blanks, a level above it one trailing
// dot. A component of dots alone is left as it is.
CUnicodeString TreeKey(const CUnicodeString& component, bool last)
{
    int32_t end = component.GetLength();
    bool dotsOnly = true;
    for (int32_t i = 0; i < end && dotsOnly; ++i)
        dotsOnly = component[i] == L'.';
    if (dotsOnly)
        return component;
    if (last) {
        while (end > 0 && (component[end - 1] == L'.' || component[end - 1] == L' '))
            --end;
    } else if (component[end - 1] == L'.') {
        --end;
    }
    return end == component.GetLength() ? component : component.Left(end);
}

// The components of a virtual path in their tree form; returns the index of the first one
// after the prefix's. Creation and lookup both go through here, so a name is found again by
// the name it was made with. As on disk, "." names the level it stands in and ".." the one
// above (never above the root); what is last after that loses its trailing dots and blanks.
int32_t SplitTreePath(const CUnicodeString& path, CArray<CUnicodeString>& components)
{
    SplitPath(path, components);
    const int32_t first = PrefixComponentCount();
    int32_t kept = first;
    for (int32_t i = first; i < components.GetSize(); ++i) {
        if (components[i] == L"..")
            kept = std::max(first, kept - 1);
        else if (components[i] != L".")
            components[kept++] = TreeKey(components[i], i == components.GetSize() - 1);
    }
    components.SetSize(kept);
    if (kept > first)
        components[kept - 1] = TreeKey(components[kept - 1], true);
    return first;
}

// The name a new file reports: the path as asked, with its last level as the tree keeps it. A path
// that ends in "." or ".." names the level it resolves to, so its text says nothing of the file.
CUnicodeString FileNodeName(const CUnicodeString& path, const CArray<CUnicodeString>& components, int32_t first)
{
    const CUnicodeString asked = ExtractFileName(path);
    if (asked != L"." && asked != L"..")
        return ExtractPath(path) + components[components.GetSize() - 1];
    CUnicodeString name = VirtualFilesPrefix;
    for (int32_t i = first; i < components.GetSize(); ++i)
        name = MergePath(name, components[i]);
    return name;
}

// The platform refuses these characters in a name, and names or paths beyond its limits; a
// virtual file must stay copyable to disk.
void CheckComponents(const CArray<CUnicodeString>& components, int32_t first, const CUnicodeString& path)
{
    if (path.GetLength() >= 32767)
        ThrowFileException(ERROR_FILENAME_EXCED_RANGE, path);
    for (int32_t i = first; i < components.GetSize(); ++i) {
        // As a name below a drive's root would allow, counted as the level would be made.
        if (TreeKey(components[i], true).GetLength() > MAX_PATH - 5)
            ThrowFileException(ERROR_FILENAME_EXCED_RANGE, path);
        if (components[i].IsEmpty()) // a name of dots and blanks
            ThrowFileException(ERROR_INVALID_NAME, path);
        for (int32_t j = 0; j < components[i].GetLength(); ++j) {
            const wchar_t c = components[i][j];
            if (c < 32 || std::wcschr(L"<>:\"|?*", c) != nullptr)
                ThrowFileException(ERROR_INVALID_NAME, path);
        }
    }
}

// A directory stays one and a file never becomes one, whatever attributes a caller sets.
uint32_t NodeAttributes(const CVirtualFileBase& node, uint32_t attributes)
{
    attributes &= ~uint32_t(FILE_ATTRIBUTE_DIRECTORY);
    if (dynamic_cast<const CVirtualDirectory*>(&node) == nullptr)
        return attributes;
    return (attributes & ~uint32_t(FILE_ATTRIBUTE_NORMAL)) | FILE_ATTRIBUTE_DIRECTORY;
}

// The platform refuses to delete a file that another open holds without sharing deletion.
void CheckPlatformFileDeletable(const CUnicodeString& path)
{
    const HANDLE file = CreateFileW(path.GetText(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        ThrowFileException(error != NO_ERROR ? error : ERROR_ACCESS_DENIED, path);
    }
    CloseHandle(file);
}

bool IsSectionHandle(HANDLE handle)
{
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

bool HasOpenHandles(CVirtualFileData* file)
{
    CCriticalSectionLock lock(file->StorageLock);
    return !file->OpenHandles.IsEmpty();
}

// '*' ends the walk with a match; without one both parts must have the same length.
bool MatchPart(const CUnicodeString& part, const CUnicodeString& mask)
{
    if (mask.IsEmpty())
        return part.IsEmpty();
    if (part.GetLength() < mask.GetLength())
        return false;
    for (int32_t i = 0; i < mask.GetLength(); ++i) {
        if (mask[i] == L'*')
            return true;
        if (mask[i] != L'?' && mask[i] != part[i])
            return false;
    }
    return part.GetLength() == mask.GetLength();
}

void FillStatus(const CVirtualFileBase& node, CFileStatus& status)
{
    status.FullName = node.Name;
    status.FileName = ExtractFileName(node.Name);
    status.FileLength = node.Length.load(std::memory_order_acquire);
    status.FileAttributes = node.Attributes;
    status.CreationTime = node.CreationTime;
    status.LastAccessTime = node.LastAccessTime;
    status.LastWriteTime = node.LastWriteTime;
}

} // namespace

// The instance is static: without memory for its root the load is refused (GuardedInit), and the
// tree stays empty until the refused load has torn it down again.
CVirtualFileSystem::CVirtualFileSystem()
    : root(GuardedInit([] { return new CVirtualDirectory(VirtualFilesPrefix, nullptr); },
                       []() -> CVirtualDirectory* { return nullptr; }))
{
    CCriticalSectionLock guard(lock);
    FileSystemInternal::RegisterVirtualFileSystem(this);
}

CVirtualFileSystem::~CVirtualFileSystem() // GCOVR_EXCL_START: at exit, after the counts are written
{
    {
        CCriticalSectionLock guard(lock);
        try {
            if (root.Get())
                ClearTree();
        } catch (CException* e) {
            ReportUnpropagated(e);
            delete e;
        }
        FileSystemInternal::RegisterVirtualFileSystem(nullptr);
    }
    root.Reset();
} // GCOVR_EXCL_STOP

namespace {
void ReportUndeleted(const CVirtualDirectory& directory)
{
    for (const auto& child : directory.Children) {
        CVirtualFileBase* node = child.Value.GetChecked();
        if (node == nullptr)
            continue;
        DebugTrace(L"Undeleted object in virtual file system: %s\n", node->Name.GetText());
        if (auto* subdirectory = dynamic_cast<CVirtualDirectory*>(node))
            ReportUndeleted(*subdirectory);
    }
}
} // namespace

void CVirtualFileSystem::ClearTree()
{
    CCriticalSectionLock guard(lock);
    if (!Check(root.Get() != nullptr, ZELKOR_HERE(SourcePath)))
        return;
    ReportUndeleted(*root.Get());
    root->Children.DeleteAll();
}

CPtr<CVirtualFileBase> CVirtualFileSystem::FindNode(const CUnicodeString& path, bool holder)
{
    CArray<CUnicodeString> components;
    const int32_t first = SplitTreePath(path, components);
    if (!Check(components.GetSize() >= first + int32_t(holder), ZELKOR_HERE(SourcePath)))
        return nullptr;
    CPtr<CVirtualFileBase> node(root.Get());
    for (int32_t i = first; i < components.GetSize() - int32_t(holder); ++i) {
        CVirtualDirectory* directory = AsDirectory(node);
        if (directory == nullptr)
            return nullptr;
        const CPtr<CVirtualFileBase>* child = directory->Children.Lookup(components[i]);
        if (child == nullptr)
            return nullptr;
        node = *child;
    }
    return node;
}

// A listing looks into the directory as the platform's search does, through a pattern below
// it: its last component is then a level above, which keeps its trailing blanks.
CPtr<CVirtualFileBase> CVirtualFileSystem::FindDirectoryToList(const CUnicodeString& path)
{
    return FindNode(JoinPath(path, L"*"), true);
}

CPtr<CVirtualFileBase> CVirtualFileSystem::FindExistingNode(const CUnicodeString& path)
{
    CPtr<CVirtualFileBase> node = FindNode(path);
    if (!node)
        ThrowFileException(ERROR_FILE_NOT_FOUND, path);
    return node;
}

// The levels components[first, end) below the root, created where missing. On failure the
// levels this call created are gone again; created holds the topmost of them otherwise.
CVirtualDirectory* CVirtualFileSystem::CreateDirectories(const CArray<CUnicodeString>& components, int32_t first,
                                                         int32_t end, const CUnicodeString& path,
                                                         CPtr<CVirtualFileBase>& created)
{
    CUnicodeString current = VirtualFilesPrefix;
    CVirtualDirectory* directory = root.Get();
    try {
        for (int32_t i = first; i < end; ++i) {
            current = MergePath(current, components[i]);
            if (const CPtr<CVirtualFileBase>* child = directory->Children.Lookup(components[i])) {
                directory = AsDirectory(*child);
                if (directory == nullptr)
                    ThrowFileException(ERROR_ALREADY_EXISTS, path);
                continue;
            }
            // The platform makes a level by its name as a last component, which drops trailing
            // dots and blanks, then finds it as a level above, which drops one dot: a name that
            // still ends in either would never be found there.
            const CUnicodeString& key = components[i];
            if (key[key.GetLength() - 1] == L'.' || key[key.GetLength() - 1] == L' ')
                ThrowFileException(ERROR_PATH_NOT_FOUND, path);
            CPtr<CVirtualDirectory> level(new CVirtualDirectory(current, directory));
            directory->Children.Add(components[i], CPtr<CVirtualFileBase>(level.Get()));
            if (!created)
                created = level.Get();
            directory = level.Get();
        }
    } catch (...) {
        if (created)
            UnlinkChain(directory, created->Parent.Get());
        created.Reset();
        throw;
    }
    return directory;
}

namespace {
// The key a directory holds a node under (empty when it is not there), shared rather than built:
// nothing here allocates, so an undo or the last step of a move never fails for want of memory.
CUnicodeString KeyOf(const CVirtualDirectory& parent, const CVirtualFileBase* node)
{
    for (const auto& child : parent.Children) {
        if (child.Value.Get() == node)
            return child.Key;
    }
    return CUnicodeString();
}
} // namespace

void CVirtualFileSystem::Unlink(CVirtualFileBase* node)
{
    CPtr<CVirtualFileBase> keep(node);
    CVirtualDirectory* parent = node->Parent.Get();
    parent->Children.Delete(KeyOf(*parent, node));
}

// Bottom up: a level that still held what hangs below it would keep it alive, and be kept alive
// by it (its Parent).
void CVirtualFileSystem::UnlinkChain(CVirtualFileBase* node, const CVirtualFileBase* stop)
{
    CPtr<CVirtualFileBase> current(node);
    while (current && current.Get() != stop) {
        CPtr<CVirtualFileBase> parent(current->Parent.Get());
        Unlink(current.Get());
        current = parent;
    }
}

void CVirtualFileSystem::RemoveNode(CVirtualFileBase* node)
{
    if (!Check(node->Parent.Get() != nullptr, ZELKOR_HERE(SourcePath)))
        return;
    CPtr<CVirtualFileBase> keep(node); // the parent's entry may hold the last reference
    node->Parent->Children.Delete(ExtractFileName(node->Name));
}

// Open, in named steps: find the node, decide by the disposition, check, create, open. Every
// refusal comes before anything changes, and a creation that fails half-way is undone, so a
// failed open leaves the tree as it was.
CBaseFile* CVirtualFileSystem::OpenFile(const CUnicodeString& path, uint32_t desiredAccess, uint32_t shareMode,
                                        SECURITY_ATTRIBUTES*, uint32_t creationDisposition, uint32_t flagsAndAttributes,
                                        HANDLE templateFile, int64_t initialSize)
{
    if (!CheckVirtual(path))
        return nullptr;
    CCriticalSectionLock guard(lock);
    CPtr<CVirtualFileBase> found = FindNode(path);
    if (AsDirectory(found) != nullptr)
        ThrowFileException(ERROR_ACCESS_DENIED, path);
    CVirtualFileData* existing = AsFile(found);
    const OpenAction action = DecideByDisposition(path, creationDisposition, existing);
    if (action == OpenAction::Refused)
        return nullptr;
    if (action == OpenAction::OpenExisting) {
        CheckOpenExisting(path, desiredAccess, shareMode, *existing);
        return OpenHandle(existing, desiredAccess, shareMode);
    }
    const HANDLE adopted = IsSectionHandle(templateFile) ? templateFile : nullptr;
    uint32_t attributes = flagsAndAttributes | (creationDisposition == OPEN_ALWAYS ? 0 : FILE_ATTRIBUTE_ARCHIVE);
    if (adopted != nullptr)
        attributes |= FILE_ATTRIBUTE_READONLY;
    return CreateAndOpen(path, desiredAccess, shareMode, attributes, adopted, initialSize, existing);
}

CVirtualFileSystem::OpenAction CVirtualFileSystem::DecideByDisposition(const CUnicodeString& path, uint32_t disposition,
                                                                       CVirtualFileData* existing)
{
    switch (disposition) {
    case CREATE_NEW:
        if (existing != nullptr)
            ThrowFileException(ERROR_ACCESS_DENIED, path);
        return OpenAction::Create;
    case CREATE_ALWAYS:
        if (existing != nullptr && HasOpenHandles(existing))
            ThrowFileException(ERROR_SHARING_VIOLATION, path);
        return OpenAction::Create;
    case OPEN_EXISTING:
        if (existing == nullptr)
            ThrowFileException(ERROR_FILE_NOT_FOUND, path);
        return OpenAction::OpenExisting;
    case OPEN_ALWAYS: return existing == nullptr ? OpenAction::Create : OpenAction::OpenExisting;
    default: Check(false, ZELKOR_HERE(SourcePath)); return OpenAction::Refused;
    }
}

void CVirtualFileSystem::CheckOpenExisting(const CUnicodeString& path, uint32_t desiredAccess, uint32_t shareMode,
                                           CVirtualFileData& file)
{
    const bool writes = (desiredAccess & GENERIC_WRITE) != 0;
    CCriticalSectionLock storage(file.StorageLock);
    // Adopted storage is mapped read-only: a writer would fault on its first byte.
    if (writes && file.HasAdoptedStorage())
        ThrowFileException(ERROR_ACCESS_DENIED, path);
    // Read-only whether or not someone has the file open already.
    if (writes && (file.Attributes & FILE_ATTRIBUTE_READONLY) != 0)
        ThrowFileException(ERROR_SHARING_VIOLATION, path);
    if (file.OpenHandles.IsEmpty())
        return;
    uint32_t shared = FILE_SHARE_READ | FILE_SHARE_WRITE, accessed = 0;
    for (CVirtualFile* handle : file.OpenHandles) {
        shared &= handle->GetShareMode();
        accessed |= handle->GetDesiredAccess();
    }
    // Both ways, as on disk: an open that denies writing must not be granted while a writer is
    // present, or it would trust bytes that still change under it.
    if (((desiredAccess & GENERIC_READ) != 0 && (shared & FILE_SHARE_READ) == 0) ||
        (writes && (shared & FILE_SHARE_WRITE) == 0) ||
        ((accessed & GENERIC_READ) != 0 && (shareMode & FILE_SHARE_READ) == 0) ||
        ((accessed & GENERIC_WRITE) != 0 && (shareMode & FILE_SHARE_WRITE) == 0))
        ThrowFileException(ERROR_SHARING_VIOLATION, path);
}

// existing: the file that CREATE_ALWAYS replaces, if any. Replacing a read-only file writes it.
void CVirtualFileSystem::CheckCreate(const CUnicodeString& path, uint32_t desiredAccess, CVirtualFileData* existing,
                                     uint32_t attributes, bool adopting)
{
    if (existing != nullptr && (existing->Attributes & FILE_ATTRIBUTE_READONLY) != 0)
        ThrowFileException(ERROR_SHARING_VIOLATION, path);
    if ((desiredAccess & GENERIC_WRITE) == 0)
        return;
    if (adopting)
        ThrowFileException(ERROR_ACCESS_DENIED, path);
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
        ThrowFileException(ERROR_SHARING_VIOLATION, path);
}

// The new node and its handle are complete before the node enters the tree, where it takes the
// place of a file it replaces; the adopted section is taken over last, when nothing can fail.
CBaseFile* CVirtualFileSystem::CreateAndOpen(const CUnicodeString& path, uint32_t desiredAccess, uint32_t shareMode,
                                             uint32_t attributes, HANDLE adopted, int64_t initialSize,
                                             CVirtualFileData* existing)
{
    if (!Check(initialSize >= 0, ZELKOR_HERE(SourcePath)))
        return nullptr;
    CArray<CUnicodeString> components;
    const int32_t first = SplitTreePath(path, components);
    if (components.GetSize() <= first || ExtractFileName(path).IsEmpty())
        ThrowFileException(ERROR_INVALID_NAME, path);
    CheckComponents(components, first, path); // a name the platform refuses, before anything else
    const CUnicodeString& name = components[components.GetSize() - 1];
    CPtr<CVirtualFileBase> createdLevels;
    CVirtualDirectory* directory = CreateDirectories(components, first, components.GetSize() - 1, path, createdLevels);
    try {
        // After the levels above, whose names the platform checks first; a refusal removes them again.
        CheckCreate(path, desiredAccess, existing, attributes, adopted != nullptr);
        CPtr<CVirtualFileData> file(new CVirtualFileData(FileNodeName(path, components, first), attributes, directory,
                                                         MM_ExecuteReadWrite, initialSize));
        if (adopted != nullptr)
            file->PrepareAdoption(initialSize);
        CVirtualFile* handle = OpenHandle(file.Get(), desiredAccess, shareMode);
        try {
            if (CPtr<CVirtualFileBase>* replaced = directory->Children.Lookup(name))
                *replaced = CPtr<CVirtualFileBase>(file.Get());
            else
                directory->Children.Add(name, CPtr<CVirtualFileBase>(file.Get()));
        } catch (...) {
            CloseFile(handle, true);
            throw;
        }
        if (adopted != nullptr)
            file->AttachAdoptedSection(adopted);
        return handle;
    } catch (...) {
        if (createdLevels)
            UnlinkChain(directory, createdLevels->Parent.Get());
        throw;
    }
}

CVirtualFile* CVirtualFileSystem::OpenHandle(CVirtualFileData* file, uint32_t desiredAccess, uint32_t shareMode)
{
    auto* handle = new CVirtualFile(file, desiredAccess, shareMode);
    try {
        CCriticalSectionLock storage(file->StorageLock);
        file->OpenHandles.Add(handle);
    } catch (...) {
        delete handle;
        throw;
    }
    return handle;
}

void CVirtualFileSystem::CloseFile(CBaseFile* file, bool abort)
{
    auto* handle = dynamic_cast<CVirtualFile*>(file);
    if (!Check(handle != nullptr, ZELKOR_HERE(SourcePath)))
        return;
    struct Destroy {
        CVirtualFile* handle;
        ~Destroy() { delete handle; }
    } destroy{handle};
    if (abort)
        handle->Abort();
    else
        handle->Close();
}

bool CVirtualFileSystem::DirectoryExists(const CUnicodeString& path)
{
    if (!CheckVirtual(path))
        return false;
    CCriticalSectionLock guard(lock);
    return AsDirectory(FindNode(path)) != nullptr;
}

bool CVirtualFileSystem::FileExists(const CUnicodeString& path, FileOpenMode mode)
{
    if (!CheckVirtual(path))
        return false;
    CCriticalSectionLock guard(lock);
    if (mode == FM_Exists)
        return AsFile(FindNode(path)) != nullptr;
    if (!Check((mode & FM_SharingField) != 0, ZELKOR_HERE(SourcePath)))
        return false;
    try {
        CloseFile(OpenFile(path, AccessFromMode(mode), ShareFromMode(mode), nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr, 0),
                  true);
        return true;
    } catch (CFileException* e) {
        delete e;
        return false;
    }
}

void CVirtualFileSystem::SetAttributes(const CUnicodeString& path, uint32_t attributes)
{
    if (!CheckVirtual(path))
        return;
    CCriticalSectionLock guard(lock);
    CPtr<CVirtualFileBase> node = FindExistingNode(path);
    node->Attributes = NodeAttributes(
        *node.Get(), attributes == FILE_ATTRIBUTE_NORMAL ? attributes : attributes & ~FILE_ATTRIBUTE_NORMAL);
}

uint32_t CVirtualFileSystem::GetAttributes(const CUnicodeString& path)
{
    if (!CheckVirtual(path))
        return 0;
    CCriticalSectionLock guard(lock);
    CPtr<CVirtualFileBase> node = FindExistingNode(path);
    return node->Attributes;
}

void CVirtualFileSystem::DeleteFile(const CUnicodeString& path)
{
    if (!CheckVirtual(path))
        return;
    CCriticalSectionLock guard(lock);
    RemoveNode(FindDeletableFile(path).Get());
}

CPtr<CVirtualFileBase> CVirtualFileSystem::FindDeletableFile(const CUnicodeString& path)
{
    CPtr<CVirtualFileBase> node = FindExistingNode(path);
    CVirtualFileData* file = AsFile(node);
    if (file == nullptr)
        ThrowFileException(ERROR_ACCESS_DENIED, path);
    if (HasOpenHandles(file))
        ThrowFileException(ERROR_SHARING_VIOLATION, path);
    return node;
}

bool CVirtualFileSystem::TryDeleteFile(const CUnicodeString& path)
{
    if (!CheckVirtual(path))
        return false;
    CCriticalSectionLock guard(lock);
    CPtr<CVirtualFileBase> node = FindNode(path);
    CVirtualFileData* file = AsFile(node);
    if (file == nullptr || HasOpenHandles(file))
        return false;
    RemoveNode(file);
    return true;
}

// Two spellings of one virtual file: a copy or move between them would replace the file by
// itself, and the move would then delete it.
bool CVirtualFileSystem::IsSameFile(const CUnicodeString& destination, const CUnicodeString& source)
{
    if (!IsVirtualPath(destination) || !IsVirtualPath(source))
        return false;
    CCriticalSectionLock guard(lock);
    CPtr<CVirtualFileBase> node = FindNode(source);
    return AsFile(node) != nullptr && FindNode(destination).Get() == node.Get();
}

// What a copy into the tree changes, put back unless the copy is kept: the file it replaced, or
// else the levels it made above its new file. Recorded before the copy; the undo allocates
// nothing, so it cannot fail for want of memory.
class CVirtualFileSystem::CTargetUndo {
public:
    CTargetUndo(CVirtualFileSystem& owner, const CUnicodeString& destination) : owner(owner)
    {
        if (!IsVirtualPath(destination))
            return;
        CArray<CUnicodeString> components;
        const int32_t first = SplitTreePath(destination, components);
        standing = owner.root.Get();
        for (int32_t i = first; i < components.GetSize(); ++i) {
            const CPtr<CVirtualFileBase>* child = AsDirectory(standing)->Children.Lookup(components[i]);
            if (child != nullptr && i == components.GetSize() - 1 && AsFile(*child) != nullptr)
                replaced = *child;
            if (child == nullptr || AsDirectory(*child) == nullptr)
                break;
            standing = *child;
        }
    }
    ~CTargetUndo()
    {
        if (!made)
            return;
        if (!replaced) {
            owner.UnlinkChain(made.Get(), standing.Get());
            return;
        }
        CVirtualDirectory* parent = made->Parent.Get();
        if (CPtr<CVirtualFileBase>* slot = parent->Children.Lookup(KeyOf(*parent, made.Get())))
            *slot = replaced;
    }
    CTargetUndo(const CTargetUndo&) = delete;
    CTargetUndo& operator=(const CTargetUndo&) = delete;
    void Made(CVirtualFileBase* node) { made = node; }
    void Keep() { made.Reset(); }

private:
    CVirtualFileSystem& owner;
    CPtr<CVirtualFileBase> standing, replaced, made;
};

void CVirtualFileSystem::CopyFile(const CUnicodeString& destination, const CUnicodeString& source)
{
    CCriticalSectionLock guard(lock);
    if (IsSameFile(destination, source))
        return;
    CTargetUndo undo(*this, destination);
    Copy(destination, source, undo);
    undo.Keep();
}

void CVirtualFileSystem::Copy(const CUnicodeString& destination, const CUnicodeString& source, CTargetUndo& undo)
{
    const bool virtualTarget = IsVirtualPath(destination), virtualSource = IsVirtualPath(source);
    if (virtualTarget && virtualSource)
        CopyVirtualToVirtual(destination, source, undo);
    else if (virtualSource)
        CopyVirtualToNative(destination, source);
    else if (Check(virtualTarget, ZELKOR_HERE(SourcePath)))
        CopyNativeToVirtual(destination, source, undo);
}

// A source that cannot be deleted is refused before anything is copied. Should the deletion
// fail all the same (a platform file opened meanwhile), the copy is undone: a failed move
// leaves the destination as it was.
void CVirtualFileSystem::MoveFile(const CUnicodeString& destination, const CUnicodeString& source)
{
    CCriticalSectionLock guard(lock);
    CPtr<CVirtualFileBase> moved;
    if (IsVirtualPath(source))
        moved = FindDeletableFile(source);
    else
        CheckPlatformFileDeletable(source);
    if (IsSameFile(destination, source)) // refused alike while the file is open
        return;
    CTargetUndo undo(*this, destination);
    Copy(destination, source, undo);
    if (moved)
        Unlink(moved.Get());
    else
        GetFileSystem(source).DeleteFile(source);
    undo.Keep();
}

void CVirtualFileSystem::ReplaceFile(const CUnicodeString& destination, const CUnicodeString& source)
{
    MoveFile(destination, source);
}

// As on disk, a rename never replaces another entry; replacing takes a move.
void CVirtualFileSystem::RenameFile(const CUnicodeString& source, const CUnicodeString& destination)
{
    CCriticalSectionLock guard(lock);
    CFileSystemBase& target = GetFileSystem(destination);
    // As on disk, a source that is missing or held open is what a rename reports, whatever
    // stands at the target.
    if (IsVirtualPath(source))
        FindDeletableFile(source);
    else
        CheckPlatformFileDeletable(source);
    if (!IsSameFile(destination, source) &&
        (target.FileExists(destination, FM_Exists) || target.DirectoryExists(destination)))
        ThrowFileException(ERROR_ALREADY_EXISTS, destination);
    MoveFile(destination, source);
}

int32_t CVirtualFileSystem::GetFreeSpace(const CUnicodeString& path)
{
    if (!CheckVirtual(path))
        return 0;
    return int32_t(std::min<uint64_t>(VirtualFileInternal::GetAvailablePageFile() / 1024, INT32_MAX));
}

void CVirtualFileSystem::CreateDirectory(const CUnicodeString& path, bool failIfExists)
{
    if (!CheckVirtual(path))
        return;
    CCriticalSectionLock guard(lock);
    if (failIfExists && FindNode(path))
        ThrowFileException(ERROR_ALREADY_EXISTS, path);
    CArray<CUnicodeString> components;
    const int32_t first = SplitTreePath(path, components);
    if (!Check(components.GetSize() >= first, ZELKOR_HERE(SourcePath)))
        return;
    CheckComponents(components, first, path);
    CPtr<CVirtualFileBase> created;
    CreateDirectories(components, first, components.GetSize(), path, created);
}

void CVirtualFileSystem::RemoveDirectory(const CUnicodeString& path)
{
    if (!CheckVirtual(path))
        return;
    CCriticalSectionLock guard(lock);
    CPtr<CVirtualFileBase> node = FindExistingNode(path);
    CVirtualDirectory* directory = AsDirectory(node);
    if (directory == nullptr)
        ThrowFileException(ERROR_PATH_NOT_FOUND, path);
    if (!directory->Children.IsEmpty())
        ThrowFileException(ERROR_SHARING_VIOLATION, path);
    if (directory == root.Get())
        ThrowFileException(ERROR_ACCESS_DENIED, path);
    RemoveNode(directory);
}

bool CVirtualFileSystem::IsDirectoryEmpty(const CUnicodeString& path)
{
    if (!CheckVirtual(path))
        return false;
    CCriticalSectionLock guard(lock);
    if (!Check(root.Get() != nullptr, ZELKOR_HERE(SourcePath)))
        return false;
    CVirtualDirectory* directory = AsDirectory(FindDirectoryToList(path));
    if (directory == nullptr)
        ThrowFileException(ERROR_PATH_NOT_FOUND, path);
    return directory->Children.IsEmpty();
}

void CVirtualFileSystem::FindFiles(const CUnicodeString& path, CArray<CFileStatus>& list, const CUnicodeString& mask,
                                   IFileErrorHandler* handler)
{
    if (!CheckVirtual(path))
        return;
    CCriticalSectionLock guard(lock);
    // Appended to what the list holds; a caller may gather several directories in one list.
    CPtr<CVirtualFileBase> node = FindDirectoryToList(path);
    CVirtualDirectory* directory = AsDirectory(node);
    if (directory == nullptr) {
        // As on disk: a missing directory is an error, which the handler may accept.
        FileSystemInternal::ReportFileError(ERROR_PATH_NOT_FOUND, path, handler);
        return;
    }
    for (const auto& child : directory->Children) {
        if (!child.Value || !MatchMask(ExtractFileName(child.Value->Name), mask))
            continue;
        CFileStatus status;
        FillStatus(*child.Value.Get(), status);
        list.Add(status);
    }
}

void CVirtualFileSystem::GetStatus(const CUnicodeString& path, CFileStatus& status)
{
    if (!CheckVirtual(path))
        return;
    CCriticalSectionLock guard(lock);
    FillStatus(*FindExistingNode(path).Get(), status);
}

void CVirtualFileSystem::SetStatus(const CUnicodeString& path, const CFileStatus& status)
{
    if (!CheckVirtual(path))
        return;
    CCriticalSectionLock guard(lock);
    CPtr<CVirtualFileBase> node = FindExistingNode(path);
    node->Attributes = NodeAttributes(*node.Get(), status.FileAttributes);
    // A zero time means "not given", as the platform reads it.
    if (status.CreationTime != 0)
        node->CreationTime = status.CreationTime;
    if (status.LastAccessTime != 0)
        node->LastAccessTime = status.LastAccessTime;
    if (status.LastWriteTime != 0)
        node->LastWriteTime = status.LastWriteTime;
}

// A handle of this file system, closed (ignoring errors) when it goes out of scope.
class CVirtualFileSystem::CHeldFile {
public:
    explicit CHeldFile(CBaseFile* file) : file(dynamic_cast<CVirtualFile*>(file))
    {
        if (!Check(this->file != nullptr, ZELKOR_HERE(SourcePath)))
            ThrowFileExceptionOfKind(FileErrorKind::Generic, CUnicodeString());
    }
    ~CHeldFile() { VirtualFileSystemInstance.CloseFile(file, true); }
    CHeldFile(const CHeldFile&) = delete;
    CHeldFile& operator=(const CHeldFile&) = delete;
    CVirtualFile* operator->() const { return file; }
    CVirtualFile& operator*() const { return *file; }

private:
    CVirtualFile* file;
};

uint32_t CVirtualFileSystem::TargetAttributes(const CUnicodeString& destination)
{
    CFileSystemBase& target = GetFileSystem(destination);
    uint32_t attributes = FILE_ATTRIBUTE_NORMAL;
    if (target.FileExists(destination, FM_Exists))
        attributes |= target.GetAttributes(destination) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    return attributes;
}

// As the platform's copy, it shares writing: the opens are checked both ways, and denying it
// would refuse to copy a file that a writer holds open while sharing reading.
CBaseFile* CVirtualFileSystem::OpenSource(const CUnicodeString& source)
{
    return OpenFile(source, AccessFromMode(FM_Read | FM_DenyNone), ShareFromMode(FM_Read | FM_DenyNone), nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_READONLY, nullptr, 0);
}

CBaseFile* CVirtualFileSystem::OpenTarget(const CUnicodeString& destination, int64_t length)
{
    const FileOpenMode mode = FM_Write | FM_DenyAll | FM_Create;
    return OpenFile(destination, AccessFromMode(mode), ShareFromMode(mode), nullptr, CREATE_ALWAYS,
                    TargetAttributes(destination), nullptr, length);
}

void CVirtualFileSystem::CopyVirtualToVirtual(const CUnicodeString& destination, const CUnicodeString& source,
                                              CTargetUndo& undo)
{
    CHeldFile from(OpenSource(source));
    CHeldFile to(OpenTarget(destination, from->GetLength()));
    undo.Made(to->GetNode());
    from->CopyToFile(*to);
}

void CVirtualFileSystem::CopyVirtualToNative(const CUnicodeString& destination, const CUnicodeString& source)
{
    CHeldFile from(OpenSource(source));
    const FileOpenMode mode = FM_Write | FM_DenyAll | FM_Create;
    try {
        CFile to;
        to.Open(destination, mode, FILE_ATTRIBUTE_NORMAL, 0);
        from->CopyToFile(to);
        to.Close();
        return;
    } catch (CFileException* e) {
        delete e;
    }
    CheckWritableTarget(destination);
    CFileSystemBase& target = GetFileSystem(destination);
    if (target.FileExists(destination, FM_Exists))
        target.DeleteFile(destination);
    CFile to;
    to.Open(destination, mode, FILE_ATTRIBUTE_NORMAL, 0);
    from->CopyToFile(to);
    to.Close();
}

// A missing destination needs its directory; an existing one must open for exclusive writing.
void CVirtualFileSystem::CheckWritableTarget(const CUnicodeString& destination)
{
    CFileSystemBase& target = GetFileSystem(destination);
    if (!target.FileExists(destination, FM_Exists)) {
        CUnicodeString full = destination;
        if (!IsVirtualPath(full))
            GetFullPath(full);
        const CUnicodeString directory = ExtractPath(full);
        if (!GetFileSystem(directory).DirectoryExists(directory))
            ThrowFileExceptionOfKind(FileErrorKind::BadPath, directory);
    } else if (!target.FileExists(destination, FM_Write | FM_DenyAll)) {
        ThrowFileExceptionOfKind(FileErrorKind::AccessDenied, destination);
    }
}

void CVirtualFileSystem::CopyNativeToVirtual(const CUnicodeString& destination, const CUnicodeString& source,
                                             CTargetUndo& undo)
{
    CFile from;
    from.Open(source, FM_Read | FM_DenyWrite, FILE_ATTRIBUTE_NORMAL, 0);
    const int64_t length = from.GetLength();
    CHeldFile to(OpenTarget(destination, length)); // made with the source's length
    undo.Made(to->GetNode());
    const int64_t saved = from.GetPosition();
    from.Seek(0, FILE_BEGIN);
    const int64_t viewSize = to->GetViewSize();
    for (int64_t offset = 0; offset < length;) {
        CVirtualView* view = to->GetView(offset);
        const int32_t wanted = int32_t(std::min(length - offset, viewSize - (offset - view->FileOffset())));
        const int32_t read = from.Read(view->Address + (offset - view->FileOffset()), wanted);
        // A source that shrank meanwhile would otherwise keep this loop waiting for bytes.
        if (read <= 0)
            ThrowFileExceptionOfKind(FileErrorKind::EndOfFile, source);
        offset += read;
    }
    from.Seek(saved, FILE_BEGIN);
}

bool CVirtualFileSystem::MatchMask(const CUnicodeString& name, const CUnicodeString& mask)
{
    if (mask == L"*" || mask == L"*.*")
        return true;
    return MatchPart(ExtractName(name), ExtractName(mask)) && MatchPart(ExtractExtension(name), ExtractExtension(mask));
}

} // namespace Zelkor
