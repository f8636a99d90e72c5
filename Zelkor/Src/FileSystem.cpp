// Path names. Everything above the platform section is text work on CUnicodeString.
#include "FileSystem.h"

#include <algorithm>

#include "Errors.h"
#include "GuardedStatic.h"
#include "StartupOrder.h"
#include "UnicodeSet.h"

namespace Zelkor {

ZELKOR_INIT(ZELKOR_ROW_CONSTANT_STRINGS + 20)
const CUnicodeString LongUncPrefix = GuardedInit([] { return CUnicodeString(L"\\\\?\\UNC\\"); });
ZELKOR_INIT(ZELKOR_ROW_CONSTANT_STRINGS + 21)
const CUnicodeString LongPathPrefix = GuardedInit([] { return CUnicodeString(L"\\\\?\\"); });

namespace {

constexpr const wchar_t* SourcePath = L"Src/FileSystem";
constexpr int32_t LongUncPrefixLength = 8; // "\\?\UNC\"
constexpr int32_t LongPrefixLength = 4;    // "\\?\"

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

wchar_t FoldAscii(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? wchar_t(c - L'a' + L'A') : c;
}

// The prefixes are ASCII, so folding ASCII letters is all "without regard to case" needs.
bool StartsWith(const CUnicodeString& text, const wchar_t* prefix, bool ignoreCase)
{
    int32_t i = 0;
    for (; prefix[i] != 0; ++i) {
        if (i >= text.GetLength())
            return false;
        wchar_t a = text[i], b = prefix[i];
        if (ignoreCase ? FoldAscii(a) != FoldAscii(b) : a != b)
            return false;
    }
    return true;
}

bool HasLongUncPrefix(const CUnicodeString& path)
{
    return StartsWith(path, L"\\\\?\\UNC\\", true);
}

bool HasPlainLongPrefix(const CUnicodeString& path)
{
    return StartsWith(path, L"\\\\?\\", false);
}

int32_t LongPrefixLengthOf(const CUnicodeString& path)
{
    if (HasLongUncPrefix(path))
        return LongUncPrefixLength;
    return HasPlainLongPrefix(path) ? LongPrefixLength : 0;
}

// Path input trims with the strict set: a no-break space is a legal file-name character.
CUnicodeString TrimStrict(const CUnicodeString& text)
{
    int32_t end = text.GetLength();
    while (end > 0 && StrictWhitespaceSet.Contains(text[end - 1]))
        --end;
    int32_t start = 0;
    while (start < end && StrictWhitespaceSet.Contains(text[start]))
        ++start;
    if (start == 0 && end == text.GetLength())
        return text;
    return text.Mid(start, end - start);
}

int32_t LastSeparator(const CUnicodeString& text, int32_t from)
{
    for (int32_t i = text.GetLength() - 1; i >= from; --i)
        if (IsSeparator(text[i]))
            return i;
    return -1;
}

int32_t NextSeparator(const CUnicodeString& text, int32_t from)
{
    for (int32_t i = from; i < text.GetLength(); ++i)
        if (IsSeparator(text[i]))
            return i;
    return -1;
}

// A long-prefixed name of a volume without a drive letter ("\\?\Volume{...}\dir",
// "\\?\GLOBALROOT\Device\X\dir"): the length of its root, prefix and separator included
// (the whole text when the root has no closing separator); 0 for every other path.
int32_t VolumeRootLength(const CUnicodeString& path)
{
    const int32_t n = path.GetLength();
    if (!HasPlainLongPrefix(path) || HasLongUncPrefix(path) || n == LongPrefixLength ||
        IsSeparator(path[LongPrefixLength]) || (n > LongPrefixLength + 1 && path[LongPrefixLength + 1] == L':'))
        return 0;
    // Below GLOBALROOT the device names the volume: "GLOBALROOT\Device\X" is one root.
    const int32_t first = NextSeparator(path, LongPrefixLength);
    const bool globalRoot = first == LongPrefixLength + 10 && StartsWith(path, L"\\\\?\\GLOBALROOT", true);
    int32_t end = LongPrefixLength;
    for (int32_t component = globalRoot ? 3 : 1; component > 0; --component) {
        const int32_t separator = NextSeparator(path, end);
        if (separator < 0)
            return n;
        end = separator + 1;
    }
    return end;
}

// A result built from the stripped text of a long-prefixed path gets the prefix back where the
// prefix applies (shares and absolute paths); "\\?\C:" stays the drive-relative "C:".
void RestoreLongPrefix(const CUnicodeString& original, CUnicodeString& result)
{
    const PathKind kind = GetPathKind(result);
    if (HasLongPrefix(original) && (kind == PK_Unc || kind == PK_Absolute))
        AddLongPrefix(result);
}

// The four pieces of a path without long prefix: drive, directory, name, extension.
struct PathParts {
    CUnicodeString Drive, Directory, Name, Extension;
};

PathParts SplitParts(const CUnicodeString& path)
{
    PathParts parts;
    if (path.IsEmpty())
        return parts;
    const CUnicodeString text = StripLongPrefix(path);
    const int32_t length = text.GetLength();
    const int32_t driveLength = length >= 2 && text[1] == L':' ? 2 : 0;
    parts.Drive = text.Left(driveLength);
    const int32_t lastSeparator = LastSeparator(text, driveLength);
    const int32_t nameStart = lastSeparator < 0 ? driveLength : lastSeparator + 1;
    parts.Directory = text.Mid(driveLength, nameStart - driveLength);
    int32_t dot = -1;
    for (int32_t i = length - 1; i >= nameStart && dot < 0; --i)
        if (text[i] == L'.')
            dot = i;
    const int32_t nameEnd = dot < 0 ? length : dot;
    parts.Name = text.Mid(nameStart, nameEnd - nameStart);
    parts.Extension = text.Mid(nameEnd, length - nameEnd);
    return parts;
}

} // namespace

PathKind GetPathKind(const CUnicodeString& path)
{
    const CUnicodeString s = StripLongPrefix(path);
    const int32_t n = s.GetLength();
    if (n == 0)
        return PK_Relative;
    if (IsSeparator(s[0]))
        return n >= 2 && s[1] == s[0] ? PK_Unc : PK_Rooted;
    if (n == 1 || s[1] != L':')
        return PK_Relative;
    return n == 2 || !IsSeparator(s[2]) ? PK_DriveRelative : PK_Absolute;
}

CUnicodeString StripLongPrefix(const CUnicodeString& path)
{
    CUnicodeString result = path;
    if (HasLongUncPrefix(path))
        result.ReplacePrefix(LongUncPrefixLength, L"//", 2);
    else if (HasPlainLongPrefix(path))
        result.Delete(0, LongPrefixLength);
    return result;
}

bool HasLongPrefix(const CUnicodeString& path)
{
    return LongPrefixLengthOf(path) != 0;
}

bool AddLongPrefix(CUnicodeString& path)
{
    if (HasLongPrefix(path))
        return false;
    switch (GetPathKind(path)) {
    case PK_Unc: path.ReplacePrefix(2, LongUncPrefix.GetText(), LongUncPrefix.GetLength()); break;
    case PK_Absolute: path.Insert(LongPathPrefix.GetText(), LongPathPrefix.GetLength(), 0); break;
    default: ReportFailedCheck(ZELKOR_HERE(SourcePath)); return false;
    }
    for (int32_t i = 0; i < path.GetLength(); ++i)
        if (path[i] == L'/')
            path.SetAt(i, L'\\');
    return true;
}

PathKind SplitPath(const CUnicodeString& path, CArray<CUnicodeString>& components)
{
    const CUnicodeString trimmed = TrimStrict(path);
    const CUnicodeString text = StripLongPrefix(trimmed);
    // The kind of the text that is cut: classifying the stripped text would strip a second
    // prefix ("\\?\\\?\C:x") and take a first component without ':' for a drive.
    const PathKind kind = GetPathKind(trimmed);
    components.DeleteAll();
    int32_t end = text.GetLength();
    for (int32_t i = end - 1; i >= -1; --i) {
        if (i >= 0 && !IsSeparator(text[i]))
            continue;
        if (end - i > 1)
            components.InsertAt(0, text.Mid(i + 1, end - i - 1));
        end = i;
    }
    if (kind == PK_DriveRelative && components.GetSize() > 0) {
        const CUnicodeString first = components[0];
        const int32_t colon = first.Find(L':');
        if (colon < 0) {
            ReportFailedCheck(ZELKOR_HERE(SourcePath));
            return kind;
        }
        if (colon + 1 < first.GetLength()) {
            components[0] = first.Left(colon + 1);
            components.InsertAt(1, first.Mid(colon + 1, first.GetLength() - colon - 1));
        }
    }
    return kind;
}

CUnicodeString AddPathSeparator(const CUnicodeString& path)
{
    const int32_t length = path.GetLength();
    if (length == 0)
        return CUnicodeString(L"\\");
    // A lone separator is already a root; doubling it would turn "\" into a share prefix.
    if (length == 1 && IsSeparator(path[0]))
        return path;
    const int32_t last = LastSeparator(path, 1);
    CUnicodeString result = path;
    if (last >= 0 && last >= LongPrefixLengthOf(path)) {
        if (last != length - 1)
            result += path[last];
    } else {
        result += L'\\';
    }
    return result;
}

CUnicodeString JoinPath(const CUnicodeString& base, const CUnicodeString& tail)
{
    if (base.IsEmpty())
        return tail;
    const int32_t baseLength = base.GetLength();
    const int32_t separators =
        (IsSeparator(base[baseLength - 1]) ? 1 : 0) + (!tail.IsEmpty() && IsSeparator(tail[0]) ? 1 : 0);
    if (separators == 0)
        return AddPathSeparator(base) + tail;
    if (separators == 1)
        return base + tail;
    return base.Left(baseLength - 1) + tail;
}

CUnicodeString MakePath(const CUnicodeString& drive, const CUnicodeString& directory, const CUnicodeString& name,
                        const CUnicodeString& extension)
{
    const int64_t sum =
        int64_t(drive.GetLength()) + directory.GetLength() + name.GetLength() + extension.GetLength() + 3;
    if (sum > INT32_MAX - 1)
        ThrowMemoryException();
    CUnicodeString result;
    wchar_t* out = result.GetBuffer(std::max<int32_t>(260, int32_t(sum)));
    int32_t n = 0;
    auto put = [&](const CUnicodeString& text) {
        for (int32_t i = 0; i < text.GetLength(); ++i)
            out[n++] = text[i];
    };
    if (!drive.IsEmpty()) {
        out[n++] = drive[0];
        out[n++] = L':';
    }
    if (!directory.IsEmpty()) {
        put(directory);
        if (!IsSeparator(directory[directory.GetLength() - 1]))
            out[n++] = L'\\';
    }
    put(name);
    if (!extension.IsEmpty()) {
        if (extension[0] != L'.')
            out[n++] = L'.';
        put(extension);
    }
    out[n] = 0;
    result.ReleaseBuffer(n);
    return result;
}

CUnicodeString MergePath(const CUnicodeString& directory, const CUnicodeString& file)
{
    CUnicodeString base = TrimStrict(directory);
    if (!base.IsEmpty())
        base = AddPathSeparator(base);
    const PathParts where = SplitParts(base);
    const PathParts what = SplitParts(file);
    if (VolumeRootLength(base) != 0)
        return ExtractPath(base) + what.Name + what.Extension;
    CUnicodeString result = MakePath(where.Drive, where.Directory, what.Name, what.Extension);
    RestoreLongPrefix(base, result);
    return result;
}

CUnicodeString MakeAbsolutePath(const CUnicodeString& base, const CUnicodeString& path)
{
    switch (GetPathKind(path)) {
    case PK_Relative: return JoinPath(base, path);
    case PK_Rooted: return JoinPath(GetRoot(base), path);
    case PK_DriveRelative: {
        CUnicodeString full = path;
        GetFullPath(full);
        return full;
    }
    default: return path;
    }
}

CUnicodeString GetRoot(const CUnicodeString& path)
{
    const CUnicodeString text = TrimStrict(path);
    if (const int32_t volume = VolumeRootLength(text))
        return AddPathSeparator(text.Left(volume));
    if (GetPathKind(text) != PK_Unc) {
        CUnicodeString root = AddPathSeparator(SplitParts(text).Drive);
        RestoreLongPrefix(text, root);
        return root;
    }
    const int32_t skip = HasLongUncPrefix(text) ? LongUncPrefixLength : 2;
    const int32_t afterServer = NextSeparator(text, skip);
    const int32_t afterShare = afterServer < 0 ? -1 : NextSeparator(text, afterServer + 1);
    if (afterShare < 0)
        return AddPathSeparator(text);
    return text.Left(afterShare + 1);
}

CUnicodeString ExtractDrive(const CUnicodeString& path)
{
    return SplitParts(path).Drive;
}

CUnicodeString ExtractDirectory(const CUnicodeString& path)
{
    return SplitParts(path).Directory;
}

CUnicodeString ExtractName(const CUnicodeString& path)
{
    return SplitParts(path).Name;
}

CUnicodeString ExtractExtension(const CUnicodeString& path)
{
    return SplitParts(path).Extension;
}

CUnicodeString ExtractPath(const CUnicodeString& path)
{
    if (const int32_t root = VolumeRootLength(path)) {
        // A separator inside the root ("\\?\GLOBALROOT\Device\X") does not end a directory.
        const int32_t last = LastSeparator(path, LongPrefixLength);
        return last + 1 < root ? AddPathSeparator(path.Left(root)) : path.Left(last + 1);
    }
    const PathParts parts = SplitParts(path);
    CUnicodeString result = parts.Drive + parts.Directory;
    RestoreLongPrefix(path, result);
    return result;
}

CUnicodeString ExtractFileName(const CUnicodeString& path)
{
    const PathParts parts = SplitParts(path);
    return parts.Name + parts.Extension;
}

bool RemoveLastPathComponent(CUnicodeString& path)
{
    if (path.IsEmpty())
        return false;
    CUnicodeString text = path;
    if (IsSeparator(text[text.GetLength() - 1]))
        text.SetLength(text.GetLength() - 1);
    if (text.IsEmpty())
        return false;
    const int32_t last = LastSeparator(text, 0);
    const int32_t prefix = LongPrefixLengthOf(text);
    if (last <= prefix)
        return false;
    if (last == prefix + 2 && text[prefix + 1] == L':')
        return false; // the parent would be a bare drive
    if (last < VolumeRootLength(text))
        return false; // the parent would be a volume without its root directory
    if (last == 1 && GetPathKind(text) == PK_Unc)
        return false; // the parent would be the bare "\\"
    text.SetLength(last);
    path = text;
    return true;
}

// ---- Platform calls ---------------------------------------------------------------------

void GetFullPath(CUnicodeString& path)
{
    const CUnicodeString input = TrimStrict(path);
    if (input.IsEmpty()) {
        path.Empty();
        return;
    }
    CUnicodeString full;
    // Success counts the characters without the terminator; a buffer too small gives the
    // size needed with the terminator, so a result above the buffer size means "again".
    DWORD size = MAX_PATH + 1;
    DWORD result = GetFullPathNameW(input.GetText(), size, full.GetBuffer(int32_t(size - 1)), nullptr);
    if (result > size) {
        size = result;
        if (input.GetLength() == 1)
            size += MAX_PATH;
        result = GetFullPathNameW(input.GetText(), size, full.GetBuffer(int32_t(size - 1)), nullptr);
        if (result >= size) {
            ReportFailedCheck(ZELKOR_HERE(SourcePath));
            return;
        }
    }
    if (result == 0)
        ThrowFileException(GetLastError(), input);
    full.ReleaseBuffer(int32_t(result));
    path = full;
}

CUnicodeString CurrentDirectory()
{
    // Asked with no buffer, the call gives the size with the terminator.
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    if (size < 1)
        ThrowFileException(GetLastError(), CUnicodeString());
    CUnicodeString directory;
    const DWORD result = GetCurrentDirectoryW(size, directory.GetBuffer(int32_t(size - 1)));
    if (result >= size) {
        ReportFailedCheck(ZELKOR_HERE(SourcePath));
        return CUnicodeString();
    }
    if (result == 0)
        ThrowFileException(GetLastError(), CUnicodeString());
    directory.ReleaseBuffer(int32_t(result));
    return directory;
}

CUnicodeString ModuleFileName(HMODULE module)
{
    // A cut name comes back as the full buffer size, so only a result within the capacity
    // proves the whole name arrived.
    CUnicodeString name;
    for (int32_t capacity = MAX_PATH;; capacity *= 2) {
        const DWORD result = GetModuleFileNameW(module, name.GetBuffer(capacity), static_cast<DWORD>(capacity) + 1);
        if (result == 0)
            ThrowFileException(GetLastError(), CUnicodeString());
        if (result <= DWORD(capacity)) {
            name.ReleaseBuffer(int32_t(result));
            return name;
        }
    }
}

// The file-system registry. The instances register from their static constructors and leave
// from their destructors, one thread at a time, so plain pointers suffice.
namespace {
CFileSystemBase* NativeInstance = nullptr;
CFileSystemBase* VirtualInstance = nullptr;

void Register(CFileSystemBase*& slot, CFileSystemBase* instance, const CCheckSite& site)
{
    if (instance != nullptr && !Check(slot == nullptr, site))
        return;
    slot = instance;
}
} // namespace

bool IsVirtualPath(const CUnicodeString& path)
{
    return StartsWith(path, VirtualFilesPrefix.GetText(), true);
}

CFileSystemBase& GetFileSystem(const CUnicodeString& path)
{
    const bool isVirtual = IsVirtualPath(path);
    CFileSystemBase* instance = isVirtual ? VirtualInstance : NativeInstance;
    if (instance == nullptr) {
        Check(false, isVirtual ? ZELKOR_HERE(L"Src/VirtualFileSystem") : ZELKOR_HERE(L"Src/NativeFileSystem"));
        // Reached only while failures are shown instead of thrown; there is nothing to hand out.
        ThrowFileExceptionOfKind(FileErrorKind::Generic, path);
    }
    return *instance;
}

namespace FileSystemInternal {

void ReportFileError(uint32_t error, const CUnicodeString& path, IFileErrorHandler* handler)
{
    if (error == NO_ERROR)
        return;
    CFileException* e = nullptr;
    try {
        ThrowFileException(error, path);
    } catch (CFileException* raised) {
        e = raised;
    }
    if (handler != nullptr && handler->HandleError(e)) {
        delete e;
        return;
    }
    throw e;
}

void RegisterNativeFileSystem(CFileSystemBase* instance)
{
    Register(NativeInstance, instance, ZELKOR_HERE(L"Src/NativeFileSystem"));
}

void RegisterVirtualFileSystem(CFileSystemBase* instance)
{
    Register(VirtualInstance, instance, ZELKOR_HERE(L"Src/VirtualFileSystem"));
}

} // namespace FileSystemInternal

} // namespace Zelkor
