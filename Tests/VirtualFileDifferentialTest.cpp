// The virtual file system against the platform's own files. A seeded generator draws sequences
// of operations over a small alphabet of names that sit on the naming rules' edges; every
// sequence runs on a temporary folder and under the virtual prefix side by side. After every
// step both must give the same outcome, and at the end hold the same tree, except where the one
// table of intended differences (Differences) says how they differ. A failing sequence is shrunk
// and printed as a case to paste into Kept. VFS_DIFFERENTIAL_SEEDS=N runs N seeds instead of the
// few that CI runs.
#include <algorithm>
#include <cstdlib>
#include <random>
#include <sstream>

#include "Alloc.h"
#include "AtomicBlockManagerProbe.h"
#include "File.h"
#include "TestSupport.h"
#include "VirtualFileSystem.h"

using namespace Zelkor;

namespace {

// clang-format off
enum Op : uint8_t { Open, Close, Write, Read, Seek, Resize, Copy, Move, Replace, Rename, MakeDir, RemoveDir, IsEmpty, Delete,
                    TryDelete, SetAttr, GetAttr, SetStat, GetStat, Find, Exists, Tree };
const char* const OpNames[] = {"Open", "Close", "Write", "Read", "Seek", "Resize", "Copy", "Move", "Replace", "Rename", "MakeDir",
                               "RemoveDir", "IsEmpty", "Delete", "TryDelete", "SetAttr", "GetAttr", "SetStat", "GetStat", "Find",
                               "Exists", "Tree"};

// Paths are spelled with letters that index Names, joined by '/' or '\'.
struct Step {
    Op op;
    std::string a, b;
    uint32_t x, y; // the operation's choices; y is the handle slot of handle operations
};

// Case variants, trailing dots and blanks, characters the platform refuses, the levels "." and
// "..", and names at, beyond and (before their trailing dot and blank) at the longest.
const std::wstring Names[] = {L"a", L"A", L"a.", L"a ", L"a. .", L"b.txt", L"B.TXT", L"b.txt. ", L"c.dat", L"c?d", L"e<f", L"g|h", L".",
                              L"..", std::wstring(255, L'n'), std::wstring(256, L'n'), std::wstring(255, L'n') + L". "};
constexpr int NameCount = int(std::size(Names));
const uint32_t Accesses[] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE, GENERIC_READ | GENERIC_EXECUTE};
const uint32_t Attributes[] = {FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, 0, FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE,
                               FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_ARCHIVE};
const int32_t Counts[] = {0, 1, 7, 100, 4096, 65539};
const int64_t Offsets[] = {0, 1, 5, 100, -1, -7, 65535, 65537, 200000};
const FileOpenMode Modes[] = {FM_Exists, FM_Read | FM_DenyNone, FM_Write | FM_DenyAll, FM_ReadWrite | FM_DenyWrite, FM_Write | FM_DenyRead};
const wchar_t* const Masks[] = {L"*", L"*.*", L"*.txt", L"b.*", L"?.txt", L"b.t?t", L"B*", L"a*", L"?"};
// clang-format on

struct Entry {
    std::wstring name;
    uint32_t attributes;
    int64_t length;
    std::string bytes;
    bool operator==(const Entry&) const = default;
    bool operator<(const Entry& o) const { return name < o.name; }
};

// What a step gave: the file exception it raised, or the values it returned.
struct Outcome {
    uint32_t code = 0;
    FileErrorKind kind = FileErrorKind::None;
    bool other = false; // another exception than a file exception
    bool named = false; // the file exception named a path of the step, or a directory above one
    int64_t number = -1;
    uint32_t attributes = 0;
    std::vector<Entry> entries;
    std::string bytes;
    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Entry& e, std::ostream* out)
{
    *out << testing::PrintToString(e.name.substr(0, 40)) << " 0x" << std::hex << e.attributes << std::dec << " " << e.length << " bytes "
         << e.bytes.size();
}

std::string Show(const Outcome& o)
{
    std::ostringstream out;
    if (o.other)
        out << "another exception";
    else if (o.code != 0 || o.kind != FileErrorKind::None)
        out << "error " << o.code << " kind " << int(o.kind) << (o.named ? "" : ", naming no path of the step");
    else
        out << "ok " << o.number << " attributes 0x" << std::hex << o.attributes << std::dec << " bytes " << o.bytes.size();
    for (const Entry& e : o.entries)
        out << "\n    " << testing::PrintToString(e);
    return out.str();
}

class Side;

// The step and the platform's view of its paths before it ran.
struct Facts {
    const Step& s;
    uint32_t a, b;                             // attributes, INVALID_FILE_ATTRIBUTES when missing
    std::vector<CUnicodeString> missingLevels; // of the directories above both paths, deepest first
    bool same;                                 // both paths name one entry
    Side& native;
    int index;
};

bool IsFile(uint32_t attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Attributes in the form both give (see Differences).
uint32_t Comparable(uint32_t a)
{
    return a & ~(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL | (a & FILE_ATTRIBUTE_DIRECTORY ? FILE_ATTRIBUTE_READONLY : 0));
}

const wchar_t* const SentinelName = L"<held before>";

Outcome Failed(uint32_t code, FileErrorKind kind)
{
    Outcome o;
    o.code = code, o.kind = kind, o.named = true;
    return o;
}

// The platform's full form of a path in capitals, each level without its trailing dots and
// blanks and ending in a separator, for comparing what names one entry or a level above it.
std::wstring Full(const CUnicodeString& path)
{
    std::wstring full(GetFullPathNameW(path.GetText(), 0, nullptr, nullptr) + 1, L'\0'), levels;
    full.resize(GetFullPathNameW(path.GetText(), DWORD(full.size()), full.data(), nullptr));
    CharUpperBuffW(full.data(), DWORD(full.size()));
    for (wchar_t c : full + L"\\") {
        while (c == L'\\' && !levels.empty() && (levels.back() == L'.' || levels.back() == L' '))
            levels.pop_back();
        levels += c;
    }
    return levels;
}

// Whether name is one of the paths or a level above one.
bool NamesOneOf(const CUnicodeString& name, std::initializer_list<CUnicodeString> paths)
{
    return !name.IsEmpty() && std::any_of(paths.begin(), paths.end(), [&](auto& path) { return Full(path).starts_with(Full(name)); });
}

class Side {
public:
    explicit Side(const CUnicodeString& root) : root(root), fs(GetFileSystem(root)) { fs.CreateDirectory(root, false); }
    ~Side() { CloseAll(); }
    CUnicodeString At(const std::string& spelling) const
    {
        std::wstring path = W(root) + L"\\";
        for (char c : spelling)
            path += c == '/' || c == '\\' ? std::wstring(1, wchar_t(c)) : Names[(c - 'a') % NameCount];
        return path.c_str();
    }
    void CloseSlot(CBaseFile*& handle)
    {
        if (handle != nullptr)
            fs.CloseFile(handle, false);
        handle = nullptr;
    }
    void CloseAll()
    {
        for (CBaseFile*& handle : handles)
            CloseSlot(handle);
    }
    Outcome Run(const Step& s, int index);
    std::vector<Entry> Walk(const CUnicodeString& directory, const std::wstring& prefix);
    void Remove(const CUnicodeString& directory);

    CUnicodeString root;
    CFileSystemBase& fs;
    CBaseFile* handles[4] = {};
    uint32_t access[4] = {}; // of each handle
    std::string opened[4];   // the spelling each handle was opened by
};

Outcome Side::Run(const Step& s, int index)
{
    Outcome o;
    CBaseFile*& handle = handles[s.y % 4];
    const CUnicodeString a = At(s.a), b = At(s.b);
    CFileStatus status; // given or asked for
    if (s.op >= Write && s.op <= Resize && handle == nullptr)
        return o; // a handle operation on a slot that holds none
    try {
        switch (s.op) {
        case Open:
            CloseSlot(handle);
            access[s.y % 4] = Accesses[s.x % 4], opened[s.y % 4] = s.a;
            handle = fs.OpenFile(a, Accesses[s.x % 4], s.x / 4 % 4, nullptr, s.x / 16 % 4 + 1, Attributes[s.x / 64 % 4], nullptr, 0);
            break;
        case Close: CloseSlot(handle); break;
        case Write: {
            std::string bytes(static_cast<size_t>(Counts[s.x % std::size(Counts)]), char(index));
            for (size_t i = 0; i < bytes.size(); ++i)
                bytes[i] = char(index * 31 + i % 251);
            handle->Write(bytes.data(), int32_t(bytes.size()));
            o.number = handle->GetPosition() * 1000000 + handle->GetLength();
            break;
        }
        case Read:
            o.bytes.resize(size_t(Counts[s.x % std::size(Counts)]));
            o.bytes.resize(size_t(handle->Read(o.bytes.data(), int32_t(o.bytes.size()))));
            o.number = handle->GetPosition();
            break;
        case Seek: o.number = handle->Seek(Offsets[s.x % std::size(Offsets)], s.x / 16 % 3); break;
        case Resize:
            handle->SetLength(std::abs(Offsets[s.x % std::size(Offsets)]) * 3);
            o.number = handle->GetPosition() * 1000000 + handle->GetLength();
            break;
        case Copy: fs.CopyFile(b, a); break;
        case Move: fs.MoveFile(b, a); break;
        case Replace: fs.ReplaceFile(b, a); break;
        case Rename: fs.RenameFile(a, b); break;
        case MakeDir: fs.CreateDirectory(a, s.x % 2 != 0); break;
        case RemoveDir: fs.RemoveDirectory(a); break;
        case IsEmpty: o.number = fs.IsDirectoryEmpty(a); break;
        case Delete: fs.DeleteFile(a); break;
        case TryDelete: o.number = fs.TryDeleteFile(a); break;
        case SetAttr: fs.SetAttributes(a, Attributes[s.x % std::size(Attributes)]); break;
        case GetAttr: o.attributes = fs.GetAttributes(a); break;
        case SetStat:
            status.FileAttributes = Attributes[s.x % std::size(Attributes)];
            status.LastWriteTime = s.x / 8 % 2 * 132000000000000000LL;
            fs.SetStatus(a, status);
            break;
        case GetStat:
            fs.GetStatus(a, status);
            o.attributes = status.FileAttributes, o.number = status.FileLength;
            break;
        case Find: {
            struct : IFileErrorHandler {
                bool HandleError(CFileException*) override { return true; }
            } absorb;
            CArray<CFileStatus> list;
            list.Add(CFileStatus());
            list[0].FileName = SentinelName;
            fs.FindFiles(a, list, &fs == &VirtualFileSystemInstance ? Masks[s.x % std::size(Masks)] : L"*",
                         s.x / 16 % 2 ? &absorb : nullptr);
            for (const CFileStatus& e : list)
                o.entries.push_back({W(e.FileName), e.FileAttributes, e.FileAttributes & FILE_ATTRIBUTE_DIRECTORY ? 0 : e.FileLength, ""});
            std::sort(o.entries.begin() + (o.entries.empty() || o.entries[0].name != SentinelName ? 0 : 1), o.entries.end());
            break;
        }
        case Exists: o.number = fs.FileExists(a, Modes[s.x % std::size(Modes)]) * 2 + fs.DirectoryExists(a); break;
        case Tree:
            CloseAll();
            o.entries = Walk(root, L"");
            break;
        }
    } catch (CFileException* e) {
        const CUnicodeString name = e->GetFileName();
        o = Failed(e->GetErrorCode(), e->GetKind());
        delete e;
        o.named = s.op >= Write && s.op <= Resize ? NamesOneOf(name, {At(opened[s.y % 4])}) : NamesOneOf(name, {a, b});
    } catch (CMemoryException*) {
        throw;
    } catch (CException* e) {
        o.other = true;
        delete e;
    }
    return o;
}

std::vector<Entry> Side::Walk(const CUnicodeString& directory, const std::wstring& prefix)
{
    CArray<CFileStatus> list;
    fs.FindFiles(directory, list, L"*", nullptr);
    std::vector<Entry> entries;
    for (const CFileStatus& e : list) {
        const CUnicodeString path = JoinPath(directory, e.FileName);
        entries.push_back({prefix + W(e.FileName), e.FileAttributes, e.FileLength, ""});
        if (e.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            entries.back().length = 0;
            const auto below = Walk(path, entries.back().name + L"\\");
            entries.insert(entries.end(), below.begin(), below.end());
        } else {
            CFile file;
            if (ErrorOf([&] { file.Open(path, FM_Read | FM_DenyNone, 0); }) == 0) // else held: read through its handle
                entries.back().bytes = ReadAll(file);
        }
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

void Side::Remove(const CUnicodeString& directory)
{
    CArray<CFileStatus> list;
    ErrorOf([&] { fs.FindFiles(directory, list, L"*", nullptr); });
    for (const CFileStatus& e : list) {
        const CUnicodeString path = JoinPath(directory, e.FileName);
        ErrorOf([&] {
            fs.SetAttributes(path, e.FileAttributes & FILE_ATTRIBUTE_DIRECTORY ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL);
        });
        if (e.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            Remove(path);
        else
            fs.TryDeleteFile(path);
    }
    ErrorOf([&] { fs.RemoveDirectory(directory); });
}

// Where the two rightly differ, as the virtual file system is described or as Wine differs from
// Windows: the one list of differences. A row may give the outcome without asking the platform
// (decide), or rewrite the platform's outcome n into what the virtual file system gives, or bring
// both to one form (apply); it says whether it applied. Nothing else may differ.
struct Difference {
    const char* why;
    bool (*apply)(const Facts& f, Outcome& n, Outcome& v);
    bool (*decide)(const Facts& f, Outcome& n) = nullptr;
};
bool Creates(const Step& s)
{
    return (s.op == Open && s.x / 16 % 4 + 1 != OPEN_EXISTING) || (s.op >= Copy && s.op <= Rename);
}
bool Takes(Outcome& n, const Outcome& v)
{
    return n = v, true;
}
// clang-format off
const Difference Differences[] = {
    {"Attributes: every platform file is archive and none reports normal; a virtual node keeps the bits it was given. Wine's "
     "directories drop a read-only bit, a virtual one keeps it", [](const Facts&, Outcome& n, Outcome& v) {
        for (Outcome* o : {&n, &v}) {
            o->attributes = Comparable(o->attributes);
            for (Entry& e : o->entries)
                e.attributes = Comparable(e.attributes);
        }
        return false; }},
    {"Times, a status record's names and a listing's full names are not compared: times are the current time of another "
     "moment, and the names keep a node's spelling at creation where the platform echoes the one asked for", nullptr},
    {"CREATE_NEW over an existing file is access denied (5); the platform's 80 is of that kind",
     [](const Facts& f, Outcome& n, Outcome& v) { return f.s.op == Open && n.code == ERROR_FILE_EXISTS && Takes(n, v); }},
    {"Removing a directory that holds entries is a sharing violation (32); the platform's is directory-not-empty (145)",
     [](const Facts& f, Outcome& n, Outcome& v) { return f.s.op == RemoveDir && n.code == ERROR_DIR_NOT_EMPTY && Takes(n, v); }},
    {"A handle without write access refuses a write, also of no bytes, as a sharing violation (32) and a new length as access "
     "denied (5); the platform is not asked, as Windows refuses both with 5 (not a write of no bytes) and Wine a new length "
     "with 6, or not at all to a handle that may execute", nullptr, [](const Facts& f, Outcome& n) {
        if ((f.s.op != Write && f.s.op != Resize) || f.native.handles[f.s.y % 4] == nullptr || (f.native.access[f.s.y % 4] & GENERIC_WRITE) != 0)
            return false;
        n = f.s.op == Write ? Failed(ERROR_SHARING_VIOLATION, FileErrorKind::SharingViolation) : Failed(ERROR_ACCESS_DENIED, FileErrorKind::AccessDenied);
        return true; }},
    {"A file where a level above must be is already-exists (183) to a creation; the platform's is path-not-found (3), the native "
     "copy's own check the bad-path kind", [](const Facts&, Outcome& n, Outcome& v) {
        return (n.code == ERROR_PATH_NOT_FOUND || (n.code == 0 && n.kind == FileErrorKind::BadPath)) && v.code == ERROR_ALREADY_EXISTS && Takes(n, v); }},
    {"The native copy's own checks raise a kind without a code (0); such a refusal is compared by its kind",
     [](const Facts&, Outcome& n, Outcome& v) { return n.code == 0 && n.kind != FileErrorKind::None && n.kind == v.kind && Takes(n, v); }},
    {"A status with times is set regardless of opens; the native file system opens the entry to set times, refused for a "
     "directory (5) and while another open denies it (32), so its attributes are set there directly", [](const Facts& f, Outcome& n, Outcome& v) {
        if (f.s.op != SetStat || f.s.x / 8 % 2 == 0 || (n.code != ERROR_ACCESS_DENIED && n.code != ERROR_SHARING_VIOLATION) || v.kind != FileErrorKind::None)
            return false;
        const uint32_t wanted = Attributes[f.s.x % std::size(Attributes)] & ~uint32_t(FILE_ATTRIBUTE_DIRECTORY);
        SetFileAttributesW(f.native.At(f.s.a).GetText(), wanted != 0 ? wanted : FILE_ATTRIBUTE_NORMAL);
        return Takes(n, v); }},
    {"An entry exists (FM_Exists) only as a file; the native file system counts a directory too",
     [](const Facts& f, Outcome& n, Outcome& v) { return f.s.op == Exists && f.s.x % std::size(Modes) == 0 && n.number == 3 && v.number == 1 && Takes(n, v); }},
    {"The native directory creation walks up the text before \".\" and \"..\" resolve, and so may meet a refused name (123) or "
     "make a level the path does not hold and then find the path made (183); it is given the path resolved", nullptr, [](const Facts& f, Outcome& n) {
        if (f.s.op != MakeDir || f.s.a.find_first_of({'a' + 12, 'a' + 13}) == std::string::npos)
            return false;
        std::string kept, resolved;
        for (char c : f.s.a)
            c == 'a' + 13 ? kept.resize(kept.empty() ? 0 : kept.size() - 1) : c == '/' || c == '\\' || c == 'a' + 12 ? void() : kept.push_back(c);
        for (char c : kept)
            resolved += resolved.empty() ? std::string(1, c) : std::string{'\\', c};
        return n = f.native.Run({f.s.op, resolved, f.s.b, f.s.x, f.s.y}, f.index), true; }},
    {"Removing a file as a directory is path-not-found (3); the platform's is not-a-directory (267), of that kind",
     [](const Facts& f, Outcome& n, Outcome& v) { return f.s.op == RemoveDir && n.code == ERROR_DIRECTORY && v.code == ERROR_PATH_NOT_FOUND && Takes(n, v); }},
    {"A copy onto a file held open, and so a move (a copy and a delete), is a sharing violation (32), as the replacing open it "
     "makes is; the native copy's own check says access denied, by kind, and the platform's move access denied (5)", [](const Facts& f, Outcome& n, Outcome& v) {
        const HANDLE target = f.s.op == Copy || n.code != ERROR_ACCESS_DENIED ? INVALID_HANDLE_VALUE :
            CreateFileW(f.native.At(f.s.b).GetText(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
        const bool held = target == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
        if (target != INVALID_HANDLE_VALUE)
            CloseHandle(target);
        return f.s.op >= Copy && f.s.op <= Replace && (n.code == 0 ? n.kind == FileErrorKind::AccessDenied : held) && v.code == ERROR_SHARING_VIOLATION && Takes(n, v); }},
    {"A listing is appended to what the list held; the platform's replaces it", [](const Facts& f, Outcome&, Outcome& v) {
        if (f.s.op != Find || v.entries.empty() || v.entries[0].name != SentinelName)
            return false;
        v.entries.erase(v.entries.begin());
        return true; }},
    {"The status of a missing path raises not-found (2); the platform's leaves the record as it was", [](const Facts& f, Outcome& n, Outcome&) {
        return f.s.op == GetStat && f.a == INVALID_FILE_ATTRIBUTES && n.code == 0 && (n = Failed(ERROR_FILE_NOT_FOUND, FileErrorKind::NotFound), true); }},
    {"A read-only file refuses writers and whatever would replace it with a sharing violation (32), so it does not exist to a "
     "writer; the platform is not asked, as Windows refuses with access denied and Wine run by root not at all", nullptr, [](const Facts& f, Outcome& n) {
        const uint32_t disposition = f.s.x / 16 % 4 + 1, target = f.s.op == Open || f.s.op == Exists ? f.a : f.b;
        const bool open = f.s.op == Open && disposition != CREATE_NEW && ((Accesses[f.s.x % 4] & GENERIC_WRITE) != 0 || disposition == CREATE_ALWAYS);
        const bool replace = f.s.op >= Copy && f.s.op <= Replace && IsFile(f.a) && !f.same;
        const bool exists = f.s.op == Exists && (Modes[f.s.x % std::size(Modes)] & FM_Write) != 0;
        if (!(open || replace || exists) || !IsFile(target) || (target & FILE_ATTRIBUTE_READONLY) == 0)
            return false;
        return exists ? (n.number = 0, true) : (n = Failed(ERROR_SHARING_VIOLATION, FileErrorKind::SharingViolation), true); }},
    {"A missing node is not-found (2) whatever level is missing; the platform says path-not-found (3) when one above it is",
     [](const Facts& f, Outcome& n, Outcome& v) {
        return n.code == ERROR_PATH_NOT_FOUND && v.code == ERROR_FILE_NOT_FOUND && f.s.op != Find && f.s.op != IsEmpty && Takes(n, v); }},
    {"A name longer than the longest the platform allows is refused as too long (206); Wine's files say what its host's file "
     "system says", [](const Facts& f, Outcome& n, Outcome& v) {
        const bool tooLong = (f.s.a + f.s.b).find('a' + 15) != std::string::npos; // the one name beyond the limit
        return tooLong && v.code == ERROR_FILENAME_EXCED_RANGE && n.kind != FileErrorKind::None && Takes(n, v); }},
    {"A lookup of a name the platform refuses (its characters, its length) finds nothing (2 or 3); the platform refuses the name "
     "(123, 206), of the bad-path kind; creating it is refused alike on both", [](const Facts& f, Outcome& n, Outcome& v) {
        return !(f.s.op == MakeDir || (Creates(f.s) && f.s.op == Open)) && (n.code == ERROR_INVALID_NAME || n.code == ERROR_FILENAME_EXCED_RANGE) &&
               (v.code == ERROR_FILE_NOT_FOUND || v.code == ERROR_PATH_NOT_FOUND) && Takes(n, v); }},
    {"Creating a file creates the missing directories above it; the platform refuses, so they are made there too and the step "
     "is run again", [](const Facts& f, Outcome& n, Outcome& v) {
        if (!Creates(f.s) || n.kind != FileErrorKind::BadPath || v.kind == FileErrorKind::BadPath)
            return false;
        CUnicodeString parent = f.native.At(f.s.op == Open ? f.s.a : f.s.b);
        GetFullPath(parent), RemoveLastPathComponent(parent);
        const uint32_t code = ErrorOf([&] { f.native.fs.CreateDirectory(parent, false); });
        n = code != 0 ? Failed(code, CFileException(code, parent).GetKind()) : f.native.Run(f.s, f.index);
        return true; }},
    {"A copy reads a source that a writer holds open while sharing reading, as the platform's own copy does; the native copy's "
     "fallback opens it denying writers and so reports that (32) for the target's fault; the platform's copy is run again after "
     "the missing directories are made", [](const Facts& f, Outcome& n, Outcome& v) {
        auto opens = [&](uint32_t share) {
            const HANDLE h = CreateFileW(f.native.At(f.s.a).GetText(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
            return h != INVALID_HANDLE_VALUE && CloseHandle(h);
        };
        if (f.s.op < Copy || f.s.op > Replace || n.code != ERROR_SHARING_VIOLATION || v.code == ERROR_SHARING_VIOLATION || opens(FILE_SHARE_READ) ||
            !opens(FILE_SHARE_READ | FILE_SHARE_WRITE))
            return false;
        if (v.kind != FileErrorKind::None)
            return Takes(n, v);
        CUnicodeString parent = f.native.At(f.s.b);
        GetFullPath(parent), RemoveLastPathComponent(parent);
        ErrorOf([&] { f.native.fs.CreateDirectory(parent, false); });
        return n = f.native.Run(f.s, f.index), true; }},
    {"A read-only file is deleted as any other, the refusals being a missing file, a directory and open handles; the platform "
     "refuses (5), so its attribute is cleared there first and set again if the file stays", nullptr, [](const Facts& f, Outcome& n) {
        if ((f.s.op != Delete && f.s.op != TryDelete) || !IsFile(f.a) || (f.a & FILE_ATTRIBUTE_READONLY) == 0)
            return false;
        SetFileAttributesW(f.native.At(f.s.a).GetText(), f.a & ~FILE_ATTRIBUTE_READONLY);
        n = f.native.Run(f.s, f.index);
        if (GetFileAttributesW(f.native.At(f.s.a).GetText()) != INVALID_FILE_ATTRIBUTES)
            SetFileAttributesW(f.native.At(f.s.a).GetText(), f.a);
        return true; }},
    {"A file made read-only is refused to the writer that would make it (32), as its storage is read-only; the platform's is "
     "made and removed again", [](const Facts& f, Outcome& n, Outcome& v) {
        if (f.s.op != Open || f.a != INVALID_FILE_ATTRIBUTES || (Attributes[f.s.x / 64 % 4] & FILE_ATTRIBUTE_READONLY) == 0 ||
            (Accesses[f.s.x % 4] & GENERIC_WRITE) == 0 || n.kind != FileErrorKind::None || v.code != ERROR_SHARING_VIOLATION)
            return false;
        f.native.CloseSlot(f.native.handles[f.s.y % 4]);
        SetFileAttributesW(f.native.At(f.s.a).GetText(), FILE_ATTRIBUTE_NORMAL);
        return DeleteFileW(f.native.At(f.s.a).GetText()), Takes(n, v); }},
    {"A directory is not moved or renamed, as a move is a copy and a delete (5); the platform is not asked, as Wine's move "
     "of a directory even replaces a file", nullptr, [](const Facts& f, Outcome& n) {
        return f.s.op >= Move && f.s.op <= Rename && f.a != INVALID_FILE_ATTRIBUTES && !IsFile(f.a) &&
               (n = Failed(ERROR_ACCESS_DENIED, FileErrorKind::AccessDenied), true); }},
    {"A copy onto the very same text, or of a directory onto another name of it, looks for its source file (2 or 5); the native "
     "file system does nothing without looking",
     [](const Facts& f, Outcome& n, Outcome& v) { return f.s.op == Copy && (f.s.a == f.s.b || f.same) && !IsFile(f.a) && n.kind == FileErrorKind::None && Takes(n, v); }},
    {"A copy's target, and so a moved file (a copy and a delete), has normal attributes plus the hidden and system bits of the "
     "file it replaces; the platform's carry the source's, so its target is given those", [](const Facts& f, Outcome& n, Outcome& v) {
        if (f.s.op < Copy || f.s.op > Rename || f.same || n.kind != FileErrorKind::None || v.kind != FileErrorKind::None)
            return false;
        const uint32_t kept = IsFile(f.b) ? f.b & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM) : 0;
        return SetFileAttributesW(f.native.At(f.s.b).GetText(), kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL) != FALSE; }},
    {"A refused creation leaves no directory behind; the native one keeps the levels its recursion made before the refusal, "
     "which are removed there again", [](const Facts& f, Outcome& n, Outcome&) {
        bool removed = false;
        for (const CUnicodeString& level : f.missingLevels)
            removed |= n.kind != FileErrorKind::None && RemoveDirectoryW(level.GetText());
        return removed; }},
    {"Masks match by the documented rule (name and extension apart, letter case counts, '*' ends a part's walk), so the "
     "platform's full listing is filtered by that rule", [](const Facts& f, Outcome& n, Outcome&) {
        const wchar_t* mask = Masks[f.s.x % std::size(Masks)];
        auto unmatched = [&](const Entry& e) { return !CVirtualFileSystem::MatchMask(e.name.c_str(), mask); };
        return f.s.op == Find && (n.entries.erase(std::remove_if(n.entries.begin(), n.entries.end(), unmatched), n.entries.end()), true); }},
    {"CREATE_ALWAYS over a file removes it and makes a new one, named as asked and with the attributes given, and is refused "
     "(32) while the file is open, whatever the shares, or to the writer that would make it read-only; the platform's overwritten file keeps its name and, under Wine, its "
     "attributes, and is overwritten where the shares allow: so there the file is deleted first", nullptr, [](const Facts& f, Outcome& n) {
        if (f.s.op != Open || f.s.x / 16 % 4 + 1 != CREATE_ALWAYS || !IsFile(f.a))
            return false;
        f.native.CloseSlot(f.native.handles[f.s.y % 4]);
        const bool madeReadOnly = (Attributes[f.s.x / 64 % 4] & FILE_ATTRIBUTE_READONLY) != 0 && (Accesses[f.s.x % 4] & GENERIC_WRITE) != 0;
        if (!madeReadOnly && DeleteFileW(f.native.At(f.s.a).GetText()))
            return n = f.native.Run(f.s, f.index), true;
        return (madeReadOnly || GetLastError() == ERROR_SHARING_VIOLATION) && (n = Failed(ERROR_SHARING_VIOLATION, FileErrorKind::SharingViolation), true); }},
};
// clang-format on
int64_t Applied[std::size(Differences)];

Step Draw(std::mt19937& random)
{
    auto pick = [&](uint32_t n) { return uint32_t(random() % n); };
    auto path = [&] {
        const uint32_t depth = pick(8) == 0 ? 3 + pick(4) : 1 + pick(3);
        std::string spelling;
        for (uint32_t i = 0, level = 0; i < depth; ++i) {
            if (i > 0)
                spelling += pick(3) == 0 ? '/' : '\\';
            // Mostly the plain names, so that steps meet each other's files; never above the root.
            char name = char('a' + (pick(3) == 0 ? pick(NameCount) : pick(9)));
            if (Names[name - 'a'] == L".." && level == 0)
                name = 'a';
            level += Names[name - 'a'] == L".." ? -1 : Names[name - 'a'] == L"." ? 0 : 1;
            spelling += name;
        }
        return spelling;
    };
    static const Op weighted[] = {Open,      Open,    Open,    Close,   Write,   Write,   Read,      Seek,    Resize,
                                  Copy,      Move,    Replace, Rename,  MakeDir, MakeDir, RemoveDir, IsEmpty, Delete,
                                  TryDelete, SetAttr, GetAttr, SetStat, GetStat, Find,    Exists};
    Step s{weighted[pick(std::size(weighted))], path(), path(), uint32_t(random()), pick(4)};
    if (s.op == Find && pick(2) == 0)
        s.a = s.a.substr(0, 1);
    return s;
}

std::vector<Step> Generate(uint32_t seed, int count = 40)
{
    std::mt19937 random(seed);
    std::vector<Step> steps;
    for (int i = 0; i < count; ++i)
        steps.push_back(Draw(random));
    steps.push_back({Tree, "", "", 0, 0});
    return steps;
}

int RunCount = 0;

// Runs the steps on both sides; gives the first disagreement, or an empty text.
std::string RunBoth(const std::vector<Step>& steps)
{
    const std::wstring name = L"VfsDiff-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++RunCount);
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    std::string failure;
    {
        Side native(JoinPath(temp, name.c_str())), virt(VirtualFilesPrefix + name.c_str());
        for (size_t i = 0; i < steps.size() && failure.empty(); ++i) {
            const Step& s = steps[i];
            Facts facts{
                s, GetFileAttributesW(native.At(s.a).GetText()), GetFileAttributesW(native.At(s.b).GetText()), {}, false, native, int(i)};
            for (CUnicodeString level : {native.At(s.a), native.At(s.b)})
                while (RemoveLastPathComponent(level) && level.GetLength() > native.root.GetLength())
                    if (GetFileAttributesW(level.GetText()) == INVALID_FILE_ATTRIBUTES)
                        facts.missingLevels.push_back(level);
            CUnicodeString fullA = native.At(s.a), fullB = native.At(s.b);
            ErrorOf([&] { GetFullPath(fullA), GetFullPath(fullB); });
            facts.same = fullA.CompareNoCase(fullB) == 0;
            Outcome n;
            bool decided = false;
            for (size_t r = 0; r < std::size(Differences) && !decided; ++r)
                Applied[r] += decided = Differences[r].decide && Differences[r].decide(facts, n);
            if (!decided)
                n = native.Run(s, int(i));
            Outcome v = virt.Run(s, int(i));
            for (size_t r = 0; r < std::size(Differences); ++r)
                Applied[r] += Differences[r].apply && Differences[r].apply(facts, n, v);
            if (!(n == v))
                failure = "step " + std::to_string(i) + " (" + OpNames[s.op] + "): the platform gave " + Show(n) +
                    "\n  the virtual file system " + Show(v);
        }
        native.CloseAll(), virt.CloseAll();
        native.Remove(CUnicodeString(L"\\\\?\\") + native.root), virt.Remove(virt.root);
    }
    return failure;
}

std::string Spell(const std::string& spelling)
{
    std::wstring path;
    for (char c : spelling)
        path += c == '/' || c == '\\' ? std::wstring(1, wchar_t(c)) : Names[(c - 'a') % NameCount].substr(0, 8);
    return testing::PrintToString(path);
}

// Drops ever smaller runs of steps while the sequence still fails; prints what is left.
std::string Shrink(std::vector<Step> steps, uint32_t seed)
{
    for (size_t chunk = steps.size() / 2; chunk >= 1; chunk /= 2)
        for (size_t at = 0; at + chunk < steps.size();) { // the final tree step stays
            std::vector<Step> shorter = steps;
            shorter.erase(shorter.begin() + at, shorter.begin() + at + chunk);
            if (!RunBoth(shorter).empty())
                steps = shorter;
            else
                at += chunk;
        }
    std::ostringstream out;
    out << "seed " << seed << ", shrunk to " << steps.size() << " steps: " << RunBoth(steps) << "\n    {";
    for (const Step& s : steps)
        out << "\n        {" << OpNames[s.op] << ", \"" << s.a << "\", \"" << s.b << "\", 0x" << std::hex << s.x << std::dec << ", " << s.y
            << "}, // " << Spell(s.a) << " " << Spell(s.b);
    out << "\n    },";
    return out.str();
}

uint32_t FromEnvironment(const char* name, uint32_t otherwise)
{
    const char* text = std::getenv(name);
    return text != nullptr ? uint32_t(std::strtoul(text, nullptr, 10)) : otherwise;
}

} // namespace

TEST(VirtualFileDifferential, AgreesWithThePlatform)
{
    const uint32_t first = FromEnvironment("VFS_DIFFERENTIAL_FIRST", 1), seeds = FromEnvironment("VFS_DIFFERENTIAL_SEEDS", 200);
    for (uint32_t seed = first; seed < first + seeds; ++seed) {
        const std::vector<Step> steps = Generate(seed);
        if (!RunBoth(steps).empty()) {
            ADD_FAILURE() << Shrink(steps, seed);
            break;
        }
    }
    for (size_t r = 0; r < std::size(Differences); ++r)
        std::printf("%8lld  %s\n", static_cast<long long>(Applied[r]), Differences[r].why);
}

namespace {

// Sequences that found faults, shrunk: after each, what the virtual file system (unless named) did wrong;
// and steps that the fixed seeds do not reach. Sequences that found faults of the test itself
// (its model of the platform) are not kept when CI's seeds apply the difference they concern.
// clang-format off
const std::vector<Step> Kept[] = {
    {{MakeDir, "h/e\\e", "", 0, 0}},                                     // made levels "b.txt. " and "a. " the platform never finds
    {{Open, "a\\b", "", 0x5d00e0bf, 0}, {Rename, "o", "e", 0, 0}},     // reported the target existing before the source missing
    {{Open, "b\\a\\m", "", 0x888e7ddd, 2}, {Open, "i", "", 0xf95c060a, 1}, {Rename, "i", "c", 0, 0}}, // ... before it held open
    {{MakeDir, "a\\b", "", 0, 0}, {Find, "b/d", "", 0x1d0aabef, 0}},   // listed "A/a " as "A/a", a last component
    {{Open, "d", "", 0xc47948cb, 1}, {Move, "a", "b", 0, 0}},            // moved an open file onto another spelling of it
    {{Open, "k\\i", "", 0xf5e26b56, 3}},                               // refused a read-only creation before the bad name
    {{Open, "d\\e\\f", "", 0xd6e30f7a, 1}},                          // ... before the level "a " above it
    {{Open, "f", "", 0x1b, 0}, {SetAttr, "f", "", 1, 0}, {Open, "f", "", 0x10, 0}}, // replaced a read-only file, opened to read
    {{Open, "f", "", 0x13, 0}, {Close, "", "", 0, 0}, {Copy, "f", "g", 0, 0}, {Tree, "", "", 0, 0}}, // native: copied it onto itself
    {{Open, "f", "", 0x13, 0}, {Close, "", "", 0, 0}, {Open, "i", "", 0x13, 0}, {Close, "", "", 0, 0}, {Rename, "f", "i", 0, 0}}, // renamed onto a file
    {{Open, "f", "", 0x12, 0}, {Write, "", "", 2, 0}, {Seek, "", "", 1, 0}, {Seek, "", "", 0x28, 0}}, // sought from the end as from the position
    {{Open, "f", "", 0x1d, 0}, {Open, "f", "", 0x24, 1}}, // opened beside a writer a handle that denies it writing
    {{Open, "b", "", 0xc4c1215, 1}, {Copy, "c", "q", 0, 3}},         // refused to copy a file that a writer shares for reading
    {{Open, "c/d", "", 0x57c39dbe, 3}, {Copy, "a\\m\\d", "e\\h\\f", 0, 3}}, // the test: the native copy's fallback denies writers
    {{Open, "a/d\\n", "d\\g", 0xbf5210d4, 2}, {Write, "a\\h\\m", "f", 0x83953f08, 2}}, // named a file made as a/a \.. by another path
    {{Open, "f", "", 0x39, 0}, {Open, "f", "", 0x39, 1}}, // a generated fault: refused a writer beside one that shares only writing
    {{Open, "f", "", 0x34, 0}, {Open, "f", "", 0x3d, 1}}, // a generated fault: let a writer in beside a reader that denies writing
    {{Open, "f", "", 0x11, 0}, {Read, "", "", 1, 0}, {Close, "", "", 0, 0}, {RemoveDir, "f", "", 0, 0}}, // what the fixed seeds miss: reading a writer's handle, removing a file as a directory
    {{Open, "f", "", 0x12, 0}, {Write, "", "", 2, 0}, {Close, "", "", 0, 0}, {Copy, "f", "i\\i", 0, 0}, {Copy, "f", "i\\i", 0, 0}}, // ... a copy into new levels and onto a file, run out of memory
};
// clang-format on

} // namespace

TEST(VirtualFileDifferential, Kept)
{
    for (const std::vector<Step>& steps : Kept)
        EXPECT_EQ(RunBoth(steps), "") << steps.front().a;
}

namespace {

// The tree, and each open handle's position, length and contents.
std::vector<Entry> Snapshot(Side& side)
{
    // A step may remove the side's own folder (RemoveDir "." when it is empty).
    std::vector<Entry> state = side.fs.DirectoryExists(side.root) ? side.Walk(side.root, L"") : std::vector<Entry>();
    for (CBaseFile* handle : side.handles) {
        if (handle == nullptr)
            continue;
        CVirtualFile reader(static_cast<CVirtualFile*>(handle)->GetNode(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
        state.push_back({W(handle->GetFileName()), 0, handle->GetPosition() * 1000000 + handle->GetLength(), ReadAll(reader)});
    }
    return state;
}

} // namespace

// Each step of the kept sequences and of the seeds' again with its first, second, ... allocation,
// section or window failing, until it succeeds: a step that runs out of memory leaves the tree,
// the open handles and their contents as they were before it, and keeps no memory: no string or
// temporary at once, no node or window once the tree is gone (a directory's table may keep the
// room it grew). VFS_DIFFERENTIAL_INJECTED=N runs N seeds after the kept sequences.
TEST(VirtualFileDifferential, StepsThatRunOutOfMemoryChangeNothing)
{
    CHeapManager heap(0, true); // the temporaries', which takes part in failure injection
    CMemoryManagerSwitcher useHeap(&heap);
    int64_t injected = 0;
    std::vector<std::vector<Step>> sequences(std::begin(Kept), std::end(Kept));
    for (uint32_t seed = 1; seed <= FromEnvironment("VFS_DIFFERENTIAL_INJECTED", 10); ++seed)
        sequences.push_back(Generate(seed));
    int64_t fileLayerBlocks = -1; // after the first sequence, which grows the table of the prefix
    for (size_t n = 0; n < sequences.size(); ++n) {
        const std::string sequence = n < std::size(Kept) ? "kept " + std::to_string(n) : "seed " + std::to_string(n + 1 - std::size(Kept));
        {
            Side side(VirtualFilesPrefix + (L"Injected-" + std::to_wstring(n)).c_str());
            const std::vector<Step>& steps = sequences[n];
            for (size_t i = 0; i < steps.size() && !HasFailure(); ++i) {
                if (steps[i].op == Tree) // the harness's
                    continue;
                if (steps[i].op == Open)
                    side.CloseSlot(side.handles[steps[i].y % 4]); // what the step does first, and may
                const std::vector<Entry> before = Snapshot(side);
                for (int64_t failAt = 1;; ++failAt) {
                    const std::vector<int64_t> memory = MemoryHeld(heap);
                    const CFailingAllocation failure(failAt);
                    const bool failed = ErrorOf([&] { side.Run(steps[i], int(i)); }) != 0; // only the memory exception leaves Run
                    injected += failed;
                    if (!failed) {
                        EXPECT_FALSE(failure.Reached())
                            << sequence << " step " << i << " (" << OpNames[steps[i].op] << "): failure " << failAt << " lost";
                        break;
                    }
                    std::ostringstream where;
                    where << sequence << " step " << i << " (" << OpNames[steps[i].op] << " " << steps[i].a << " 0x" << std::hex
                          << steps[i].x << std::dec << ") failed at " << failAt;
                    ASSERT_EQ(MemoryHeld(heap), memory) << where.str();
                    ASSERT_EQ(Snapshot(side), before) << where.str();
                }
            }
            side.CloseAll(), side.Remove(side.root);
        }
        EXPECT_TRUE(fileLayerBlocks < 0 || FileLayerHeap::GetBlockCount() == fileLayerBlocks)
            << FileLayerHeap::GetBlockCount() - fileLayerBlocks << " file-layer blocks left by " << sequence;
        fileLayerBlocks = FileLayerHeap::GetBlockCount();
    }
    std::printf("%lld failed runs, each leaving everything as it was\n", static_cast<long long>(injected));
}

// A growing write one byte longer than the windows a handle keeps, which runs out of memory
// part-way, keeps the length it had; growth over the bytes it did copy beyond that length reads
// zeros, as on disk. A write of as many windows as a handle keeps maps them all before it copies
// a byte: run out of memory, it changes none.
TEST(VirtualFileDifferential, FailedWritesLeaveNoStrayBytes)
{
    const CUnicodeString path = VirtualFilesPrefix + L"injection\\grown.bin";
    const std::string bytes(size_t(CVirtualFile::MaxCachedViews * GetAllocationGranularity() + 1), 'x');
    for (int64_t failAt = 1; failAt < 1000 && !HasFailure(); ++failAt) {
        CFile file;
        file.Open(path, FM_ReadWrite | FM_DenyNone | FM_Create, FILE_ATTRIBUTE_NORMAL);
        {
            const CFailingAllocation failure(failAt);
            if (ErrorOf([&] { file.Write(bytes.data(), int32_t(bytes.size())); }) == 0)
                break;
        }
        EXPECT_EQ(file.GetLength(), 0);
        file.SetLength(int64_t(bytes.size()));
        const std::string read = ReadAll(file);
        EXPECT_EQ(read.size(), bytes.size());
        EXPECT_EQ(read.find_first_not_of('\0'), std::string::npos) << "a stale byte after failure " << failAt;
    }
    const std::string others(bytes.size() - 1, 'y');
    for (int64_t failAt = 1; failAt < 1000 && !HasFailure(); ++failAt) {
        CFile file;
        file.Open(path, FM_ReadWrite | FM_DenyNone, FILE_ATTRIBUTE_NORMAL);
        if (const CFailingAllocation failure(failAt); ErrorOf([&] { file.Write(others.data(), int32_t(others.size())); }) == 0)
            break;
        EXPECT_EQ(ReadAll(file), bytes) << "changed by failure " << failAt;
    }
    GetFileSystem(path).DeleteFile(path);
}
