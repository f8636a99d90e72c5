// Strings against the standard library's: copying a 100-character text (goal: at least 5 times
// faster, since a copy only shares the buffer), a short concatenation (at least 1.5 times
// faster), and building texts by 100 appends: into reserved room within 1.3 times of the
// standard string, from empty within 2 times (our growth by a fifth reallocates more often than
// doubling). One more line times the standard string under our growth rule, to show how much
// of the gap the rule alone accounts for.
#include <cstdio>
#include <string>
#include <utility>

#include "Bench.h"
#include "UnicodeString.h"

using Zelkor::CString;
using Zelkor::CUnicodeString;

namespace {

constexpr int Rounds = 51;
constexpr int CopiesPerRound = 5000;
constexpr int TextsPerRound = 200;
constexpr int PiecesPerText = 100;

const wchar_t Text100[] =
    L"The quick brown fox jumps over the lazy dog, then naps by the old oaks until the evening comes back.";
static_assert(sizeof(Text100) / sizeof(wchar_t) == 101, "a 100-character text");
const wchar_t Piece[] = L"0123456789";
const char NarrowPiece[] = "0123456789";

// Keeps the optimiser from dropping the measured work.
volatile size_t Sink;

// Every text, ours and the standard one, is handed out before it dies, or Clang drops the
// standard string's allocation and copy as unobservable.
template <class Text>
const Text& Escaped(const Text& text)
{
    Bench::Escape(&text);
    return text;
}

// Runs `perRound` operations per round; reports the median time of one operation.
template <class Ours, class Baseline>
void Compare(const char* name, int perRound, double goal, Ours ours, Baseline baseline)
{
    const auto medians = Bench::MedianRounds(
        Rounds,
        [&] {
            for (int i = 0; i < perRound; ++i)
                ours();
        },
        [&] {
            for (int i = 0; i < perRound; ++i)
                baseline();
        });
    Bench::Report(name, medians.ours / perRound, medians.baseline / perRound, goal);
}

// The standard string made to grow like ours: the exact pool classes up to 55 characters, then
// by a fifth of the current length. (Its reserve would double, so each growth builds anew.)
void AppendGrowingByAFifth(std::wstring& text, const wchar_t* piece, size_t length)
{
    const size_t needed = text.size() + length;
    if (needed > text.capacity()) {
        const size_t current = text.size();
        const size_t fifth = current + current / 5;
        std::wstring grown;
        grown.reserve(needed <= 7 ? 7 : needed <= 23 ? 23 : needed <= 55 ? 55 : (needed > fifth ? needed : fifth));
        grown.append(text);
        text.swap(grown);
    }
    text.append(piece, length);
}

// 100 pieces of 10 characters appended to text; ours spells it Append, the standard string append.
template <class Text, class Char>
Text& AppendPieces(Text&& text, const Char* piece)
{
    for (int i = 0; i < PiecesPerText; ++i) {
        if constexpr (requires { text.Append(piece, 10); })
            text.Append(piece, 10);
        else
            text.append(piece, 10);
    }
    return text;
}

// 100 appends of 10 characters, into room reserved for all of them and from empty.
template <class Ours, class Standard, class Char>
void AppendCases(const std::string& kind, const Char* piece)
{
    Compare((kind + ": 100 appends into reserved room").c_str(), TextsPerRound, 1 / 1.3,
            [=] {
                Ours text;
                text.GetBuffer(10 * PiecesPerText);
                text.ReleaseBuffer(0);
                Sink = Sink + Escaped(AppendPieces(std::move(text), piece)).GetLength();
            },
            [=] {
                Standard text;
                text.reserve(10 * PiecesPerText);
                Sink = Sink + Escaped(AppendPieces(std::move(text), piece)).size();
            });
    Compare((kind + ": 100 appends from empty").c_str(), TextsPerRound, 0.5,
            [=] { Sink = Sink + Escaped(AppendPieces(Ours(), piece)).GetLength(); },
            [=] { Sink = Sink + Escaped(AppendPieces(Standard(), piece)).size(); });
}

void Strings()
{
    const CUnicodeString ours = Text100;
    const std::wstring standard = Text100;
    Compare(
        "string: copy of 100 characters", CopiesPerRound, 5,
        [&] {
            CUnicodeString copy = ours;
            Sink = Sink + Escaped(copy).GetLength();
        },
        [&] {
            std::wstring copy = standard;
            Sink = Sink + Escaped(copy).size();
        });

    const CUnicodeString left = L"Software\\Quorell";
    const std::wstring standardLeft = L"Software\\Quorell";
    Compare(
        "string: concatenation to 23 characters", CopiesPerRound, 1.5,
        [&] {
            CUnicodeString joined = left + L"\\Zelkor";
            Sink = Sink + Escaped(joined).GetLength();
        },
        [&] {
            std::wstring joined = standardLeft + L"\\Zelkor";
            Sink = Sink + Escaped(joined).size();
        });

    AppendCases<CUnicodeString, std::wstring>("string", Piece);
    Compare(
        "string: the same vs std::wstring grown by a fifth", TextsPerRound, 0,
        [] { Sink = Sink + Escaped(AppendPieces(CUnicodeString(), Piece)).GetLength(); },
        [] {
            std::wstring text;
            for (int i = 0; i < PiecesPerText; ++i)
                AppendGrowingByAFifth(text, Piece, 10);
            Sink = Sink + Escaped(text).size();
        });
    AppendCases<CString, std::string>("narrow string", NarrowPiece);
}

Bench::Register strings("strings", Strings);

} // namespace
