// Files: 64 MiB written and read back in 64 KiB pieces through CFile against the raw
// WriteFile/ReadFile calls on the same file, in one run. Goal: the layer costs nothing
// measurable (raw time / ours at least 0.95).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "Bench.h"
#include "File.h"

using namespace Zelkor;

namespace {

constexpr int32_t PieceSize = 64 * 1024;
constexpr int32_t Pieces = 64 * 1024 * 1024 / PieceSize;
constexpr int Rounds = 5; // alternating, so a load spike of the machine hits both alike

std::vector<char> Piece(PieceSize, 'z');

double ThroughCFile(const CUnicodeString& path)
{
    const double start = Bench::NowMicroseconds();
    CFile file;
    file.Open(path, FM_ReadWrite | FM_DenyAll | FM_Create, FILE_ATTRIBUTE_NORMAL);
    for (int32_t i = 0; i < Pieces; ++i)
        file.Write(Piece.data(), PieceSize);
    file.Seek(0, FILE_BEGIN);
    while (file.Read(Piece.data(), PieceSize) == PieceSize) {}
    file.Close();
    return Bench::NowMicroseconds() - start;
}

double ThroughRawCalls(const CUnicodeString& path)
{
    const double start = Bench::NowMicroseconds();
    const HANDLE file = CreateFileW(path.GetText(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD done = 0;
    for (int32_t i = 0; i < Pieces; ++i)
        WriteFile(file, Piece.data(), PieceSize, &done, nullptr);
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    while (ReadFile(file, Piece.data(), PieceSize, &done, nullptr) && done == PieceSize) {}
    CloseHandle(file);
    return Bench::NowMicroseconds() - start;
}

void SequentialWriteThenRead()
{
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    const CUnicodeString path = CUnicodeString(temp) + L"ZelkorBenchFile.bin";
    std::vector<double> ours, raw;
    ThroughRawCalls(path); // warms the cache and the file's blocks
    for (int round = 0; round < Rounds; ++round) {
        ours.push_back(ThroughCFile(path));
        raw.push_back(ThroughRawCalls(path));
    }
    ::DeleteFileW(path.GetText());
    std::sort(ours.begin(), ours.end());
    std::sort(raw.begin(), raw.end());
    Bench::Report("CFile 64 MiB write then read in 64 KiB pieces against the raw calls", ours[Rounds / 2],
                  raw[Rounds / 2], 0.95);
}

Bench::Register registered("files", SequentialWriteThenRead);

} // namespace
