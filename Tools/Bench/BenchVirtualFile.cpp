// Virtual files against their floor: a loop written directly against the platform that maps,
// copies and unmaps one 64 KiB window per step over one page-file-backed section. Mapping is
// what costs here (a page fault and a map/unmap pair cost far more than copying 64 KiB), so
// the goal is that the virtual file adds at most a quarter to that floor (speedup >= 0.8).
// memcpy and a native temporary file are printed for reference.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Bench.h"
#include "VirtualFileSystem.h"

using namespace Zelkor;

namespace {

constexpr int64_t FileSize = int64_t(256) << 20;
constexpr int32_t Piece = 64 << 10;
constexpr int32_t RandomReads = 100000;
constexpr int32_t RandomPiece = 4096;
constexpr int32_t SmallFiles = 10000;

volatile unsigned char Sink;

constexpr double FloorGoal = 0.8;

template <class F>
double Time(F action)
{
    const double start = Bench::NowMicroseconds();
    action();
    return Bench::NowMicroseconds() - start;
}

// 4 KiB-aligned offsets, the same for every contender.
std::vector<int64_t> RandomOffsets()
{
    std::mt19937_64 random(11);
    std::vector<int64_t> offsets(RandomReads);
    for (int64_t& offset : offsets)
        offset = int64_t(random() % uint64_t(FileSize / RandomPiece)) * RandomPiece;
    return offsets;
}

struct Timings {
    double write = 0, read = 0, random = 0;
};

// The floor: one window mapped, used and unmapped per step.
Timings Floor(const std::vector<unsigned char>& source, const std::vector<int64_t>& offsets)
{
    Timings t;
    HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_EXECUTE_READWRITE, DWORD(FileSize >> 32),
                                        DWORD(FileSize), nullptr);
    auto step = [&](int64_t offset, void* buffer, size_t size, bool write) {
        const int64_t base = offset - offset % Piece;
        auto* window = static_cast<unsigned char*>(
            MapViewOfFileEx(section, FILE_MAP_WRITE, DWORD(base >> 32), DWORD(base), Piece, nullptr));
        if (write)
            std::memcpy(window + (offset - base), buffer, size);
        else
            std::memcpy(buffer, window + (offset - base), size);
        UnmapViewOfFile(window);
    };
    std::vector<unsigned char> target(Piece);
    t.write = Time([&] {
        for (int64_t at = 0; at < FileSize; at += Piece)
            step(at, const_cast<unsigned char*>(source.data()), Piece, true);
    });
    t.read = Time([&] {
        for (int64_t at = 0; at < FileSize; at += Piece)
            step(at, target.data(), Piece, false);
    });
    t.random = Time([&] {
        for (int64_t offset : offsets)
            step(offset, target.data(), RandomPiece, false);
    });
    CloseHandle(section);
    return t;
}

Timings Virtual(const std::vector<unsigned char>& source, const std::vector<int64_t>& offsets)
{
    Timings t;
    CUnicodeString path = VirtualFilesPrefix;
    path += L"bench\\sequential.bin";
    CFileSystemBase& fs = GetFileSystem(path);
    CBaseFile* file =
        fs.OpenFile(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr, 0);
    std::vector<unsigned char> target(Piece);
    t.write = Time([&] {
        for (int64_t at = 0; at < FileSize; at += Piece)
            file->Write(source.data(), Piece);
    });
    file->Seek(0, FILE_BEGIN);
    t.read = Time([&] {
        for (int64_t at = 0; at < FileSize; at += Piece)
            file->Read(target.data(), Piece);
    });
    t.random = Time([&] {
        for (int64_t offset : offsets) {
            file->Seek(offset, FILE_BEGIN);
            file->Read(target.data(), RandomPiece);
        }
    });
    Sink = target[0];
    fs.CloseFile(file, false);
    fs.DeleteFile(path);
    return t;
}

Timings Memcpy(const std::vector<unsigned char>& source)
{
    Timings t;
    auto* memory =
        static_cast<unsigned char*>(VirtualAlloc(nullptr, FileSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    std::vector<unsigned char> target(Piece);
    t.write = Time([&] {
        for (int64_t at = 0; at < FileSize; at += Piece)
            std::memcpy(memory + at, source.data(), Piece);
    });
    t.read = Time([&] {
        for (int64_t at = 0; at < FileSize; at += Piece)
            std::memcpy(target.data(), memory + at, Piece);
    });
    Sink = target[0];
    VirtualFree(memory, 0, MEM_RELEASE);
    return t;
}

std::wstring TemporaryPath(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

Timings NativeTemporaryFile(const std::vector<unsigned char>& source)
{
    Timings t;
    HANDLE file = CreateFileW(TemporaryPath(L"zelkor-bench.tmp").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    std::vector<unsigned char> target(Piece);
    DWORD done;
    t.write = Time([&] {
        for (int64_t at = 0; at < FileSize; at += Piece)
            WriteFile(file, source.data(), Piece, &done, nullptr);
    });
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    t.read = Time([&] {
        for (int64_t at = 0; at < FileSize; at += Piece)
            ReadFile(file, target.data(), Piece, &done, nullptr);
    });
    CloseHandle(file);
    return t;
}

void SequentialAndRandom()
{
    std::vector<unsigned char> source(Piece);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<unsigned char>(i * 7);
    const auto offsets = RandomOffsets();
    // One contender at a time, so that at most one 256 MiB store exists.
    const Timings floor = Floor(source, offsets);
    const Timings ours = Virtual(source, offsets);
    const Timings memory = Memcpy(source);
    const Timings native = NativeTemporaryFile(source);
    Bench::Report("virtual file sequential write 256 MiB against the window floor", ours.write, floor.write, FloorGoal);
    Bench::Report("virtual file sequential read 256 MiB against the window floor", ours.read, floor.read, FloorGoal);
    Bench::Report("virtual file 100000 random 4 KiB reads against the window floor", ours.random, floor.random,
                  FloorGoal);
    Bench::Report("virtual file sequential write 256 MiB against memcpy (reference)", ours.write, memory.write);
    Bench::Report("virtual file sequential read 256 MiB against memcpy (reference)", ours.read, memory.read);
    Bench::Report("virtual file sequential write 256 MiB against a native temporary file (reference)", ours.write,
                  native.write);
    Bench::Report("virtual file sequential read 256 MiB against a native temporary file (reference)", ours.read,
                  native.read);
}

void CreateAndDeleteSmallFiles()
{
    CUnicodeString folder = VirtualFilesPrefix;
    folder += L"bench\\small\\";
    CFileSystemBase& fs = GetFileSystem(folder);
    const double ours = Time([&] {
        for (int32_t i = 0; i < SmallFiles; ++i) {
            CUnicodeString path = folder;
            path += std::to_wstring(i).c_str();
            fs.CloseFile(fs.OpenFile(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr, 0),
                         false);
        }
        for (int32_t i = 0; i < SmallFiles; ++i) {
            CUnicodeString path = folder;
            path += std::to_wstring(i).c_str();
            fs.DeleteFile(path);
        }
    });
    const std::wstring directory = TemporaryPath(L"zelkor-bench-small\\");
    CreateDirectoryW(directory.c_str(), nullptr);
    const double native = Time([&] {
        for (int32_t i = 0; i < SmallFiles; ++i)
            CloseHandle(CreateFileW((directory + std::to_wstring(i)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        for (int32_t i = 0; i < SmallFiles; ++i)
            DeleteFileW((directory + std::to_wstring(i)).c_str());
    });
    RemoveDirectoryW(directory.c_str());
    Bench::Report("virtual file create and delete 10000 small files against the native file system", ours, native);
}

Bench::Register sequentialAndRandom("virtual", SequentialAndRandom);
Bench::Register smallFiles("virtualsmallfiles", CreateAndDeleteSmallFiles);

} // namespace
