// Strings against std::wstring: copying a 100-character text (goal: at least 5 times faster,
// since a copy only shares the buffer) and building texts by repeated appends.
#include <cstdio>
#include <string>

#include "Bench.h"
#include "UnicodeString.h"

using Zelkor::CUnicodeString;

namespace {

constexpr int CopyRounds = 2000000;
constexpr int AppendRounds = 20000;
constexpr int PiecesPerText = 100;

const wchar_t Text100[] = L"The quick brown fox jumps over the lazy dog, then naps by the old oaks until the evening comes back.";
static_assert(sizeof(Text100) / sizeof(wchar_t) == 101, "a 100-character text");
const wchar_t Piece[] = L"0123456789";

// Keeps the optimiser from dropping the measured work.
volatile size_t Sink;

template <class Body>
double Measure(int rounds, Body body)
{
    const double start = Bench::NowMicroseconds();
    for (int i = 0; i < rounds; ++i)
        body();
    return (Bench::NowMicroseconds() - start) * 1000.0 / rounds; // nanoseconds per round
}

void Report(const char* what, double ours, double standard)
{
    std::printf("%-40s CUnicodeString %9.1f ns   std::wstring %9.1f ns   ratio %5.1fx\n", what, ours, standard,
                standard / ours);
    std::fflush(stdout);
}

void CopyOf100Characters()
{
    const CUnicodeString ours = Text100;
    const std::wstring standard = Text100;
    for (int pass = 0; pass < 2; ++pass) { // the first pass warms pools and heap
        const double oursNs = Measure(CopyRounds, [&] {
            CUnicodeString copy = ours;
            Sink = Sink + copy.GetLength();
        });
        const double standardNs = Measure(CopyRounds, [&] {
            std::wstring copy = standard;
            Sink = Sink + copy.size();
        });
        if (pass == 1)
            Report("copy of a 100-character text", oursNs, standardNs);
    }
}

void AppendOf10CharacterPieces()
{
    for (int pass = 0; pass < 2; ++pass) {
        const double oursNs = Measure(AppendRounds, [] {
            CUnicodeString text;
            for (int i = 0; i < PiecesPerText; ++i)
                text.Append(Piece, 10);
            Sink = Sink + text.GetLength();
        });
        const double standardNs = Measure(AppendRounds, [] {
            std::wstring text;
            for (int i = 0; i < PiecesPerText; ++i)
                text.append(Piece, 10);
            Sink = Sink + text.size();
        });
        if (pass == 1)
            Report("100 appends of 10 characters", oursNs, standardNs);
    }
}

// The same appends into room reserved beforehand: the cost of an append without growth.
void AppendIntoReservedRoom()
{
    for (int pass = 0; pass < 2; ++pass) {
        const double oursNs = Measure(AppendRounds, [] {
            CUnicodeString text;
            text.GetBuffer(10 * PiecesPerText);
            text.ReleaseBuffer(0);
            for (int i = 0; i < PiecesPerText; ++i)
                text.Append(Piece, 10);
            Sink = Sink + text.GetLength();
        });
        const double standardNs = Measure(AppendRounds, [] {
            std::wstring text;
            text.reserve(10 * PiecesPerText);
            for (int i = 0; i < PiecesPerText; ++i)
                text.append(Piece, 10);
            Sink = Sink + text.size();
        });
        if (pass == 1)
            Report("100 appends into reserved room", oursNs, standardNs);
    }
}

void ShortConcatenation()
{
    const CUnicodeString left = L"Software\\Quorell";
    const std::wstring standardLeft = L"Software\\Quorell";
    for (int pass = 0; pass < 2; ++pass) {
        const double oursNs = Measure(CopyRounds / 4, [&] {
            CUnicodeString joined = left + L"\\Zelkor";
            Sink = Sink + joined.GetLength();
        });
        const double standardNs = Measure(CopyRounds / 4, [&] {
            std::wstring joined = standardLeft + L"\\Zelkor";
            Sink = Sink + joined.size();
        });
        if (pass == 1)
            Report("concatenation to 23 characters", oursNs, standardNs);
    }
}

static Bench::Register copyCase("string copy", CopyOf100Characters);
static Bench::Register appendCase("string append", AppendOf10CharacterPieces);
static Bench::Register reservedCase("string append, reserved", AppendIntoReservedRoom);
static Bench::Register concatenationCase("string concatenation", ShortConcatenation);

} // namespace
