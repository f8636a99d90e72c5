// Reference-counted strings: buffer classes, sharing, the growth rule, placeholders,
// parsing, resources, conversion, and the character sets.
#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Alloc.h"
#include "Errors.h"
#include "UnicodeSet.h"
#include "UnicodeString.h"

using namespace Zelkor;

namespace {

// Ids of the string-table entries in UnicodeStringTest.rc.
constexpr uint32_t Entry200 = 100;   // 200 characters
constexpr uint32_t Entry126 = 101;   // 126 characters: fills the first attempt exactly
constexpr uint32_t Entry600 = 102;   // 600 characters
constexpr uint32_t MissingEntry = 199;  // not even its block exists
constexpr uint32_t EmptyInBlock = 103;   // absent from an existing block: an empty entry

CUnicodeString Repeat(wchar_t c, int32_t n)
{
    return CUnicodeString(std::wstring(n, c).c_str());
}

std::wstring Std(const CUnicodeString& s)
{
    return std::wstring(s.GetText(), s.GetLength());
}

// Runs f and returns the internal error it raised (its source path and kind), or "none".
std::wstring InternalErrorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (CException* e) {
        auto* error = dynamic_cast<CInternalError*>(e);
        std::wstring where = error ? error->GetSourceFile() : L"other exception";
        delete e;
        return where;
    }
    return L"none";
}

const wchar_t* EmptyText()
{
    static const CUnicodeString empty;
    return empty.GetText();
}

TEST(UnicodeString, BufferSizeClassFollowsLength)
{
    const struct { int32_t length; uint64_t capacity; } cases[] = {
        {0, 2}, {1, 32}, {7, 32}, {8, 64}, {23, 64}, {24, 128}, {55, 128}, {56, 130}, {100, 218},
    };
    for (const auto& c : cases) {
        const CUnicodeString s = Repeat(L'x', c.length);
        EXPECT_EQ(s.GetCapacity(), c.capacity) << "length " << c.length;
        EXPECT_EQ(s.GetLength(), c.length);
        EXPECT_EQ(s.GetText()[c.length], 0) << "length " << c.length;
    }
}

TEST(UnicodeString, NarrowBufferSizeClassFollowsLength)
{
    const struct { int32_t length; uint64_t capacity; } cases[] = {
        {0, 1}, {15, 32}, {16, 64}, {47, 64}, {48, 128}, {111, 128}, {112, 129},
    };
    for (const auto& c : cases) {
        const CString s(std::string(c.length, 'x').c_str());
        EXPECT_EQ(s.GetCapacity(), c.capacity) << "length " << c.length;
        EXPECT_EQ(s.GetLength(), c.length);
    }
}

TEST(UnicodeString, HeapBuffersGoBackToTheStringHeap)
{
    const int32_t before = StringHeap.GetBlockCount();
    {
        const CUnicodeString pooled = Repeat(L'p', 55);
        EXPECT_EQ(StringHeap.GetBlockCount(), before);
        const CUnicodeString large = Repeat(L'h', 56);
        const CUnicodeString copy = large;
        EXPECT_EQ(StringHeap.GetBlockCount(), before + 1);
    }
    EXPECT_EQ(StringHeap.GetBlockCount(), before);
}

TEST(UnicodeString, EveryEmptyResultSharesTheEmptyBuffer)
{
    const CUnicodeString text = L"abc";
    const struct { const char* name; std::function<CUnicodeString()> make; } cases[] = {
        {"default", [] { return CUnicodeString(); }},
        {"empty text", [] { return CUnicodeString(L""); }},
        {"null text", [] { return CUnicodeString(nullptr); }},
        {"counted, length 0", [] { return CUnicodeString(L"abc", 0); }},
        {"Mid count 0", [&] { return text.Mid(1, 0); }},
        {"Left 0", [&] { return text.Left(0); }},
        {"concatenation of empties", [] { return CUnicodeString() + L""; }},
        {"Empty on a shared buffer", [&] { CUnicodeString s = text; s.Empty(); return s; }},
        {"SetLength 0 on a shared buffer", [&] { CUnicodeString s = text; s.SetLength(0); return s; }},
        {"Delete all on a shared buffer", [&] { CUnicodeString s = text; s.Delete(0, 3); return s; }},
        {"Trim of blanks", [] { const CUnicodeString blanks = L" \t "; CUnicodeString s = blanks; s.Trim(); return s; }},
        {"Format of nothing", [] { CUnicodeString s = L"old"; s.Format(L"%s", L""); return s; }},
        {"SubstParam to nothing", [] { return CUnicodeString(L"%3").SubstParam((const wchar_t* const*)nullptr, 0); }},
        {"Assign 0 on a shared buffer", [&] { CUnicodeString s = text; s.Assign(L"x", 0); return s; }},
    };
    for (const auto& c : cases) {
        const CUnicodeString s = c.make();
        EXPECT_EQ(s.GetText(), EmptyText()) << c.name;
        EXPECT_EQ(s.GetCapacity(), 2u) << c.name;
    }
}

TEST(UnicodeString, WritingToACopyLeavesTheOriginal)
{
    const struct { const char* name; std::function<void(CUnicodeString&)> write; const wchar_t* result; } cases[] = {
        {"Append", [](CUnicodeString& s) { s.Append(L"!", 1); }, L"hello world!"},
        {"Insert", [](CUnicodeString& s) { s.Insert(L"<", 1, 5); }, L"hello< world"},
        {"Delete", [](CUnicodeString& s) { s.Delete(0, 6); }, L"world"},
        {"ReplacePrefix", [](CUnicodeString& s) { s.ReplacePrefix(5, L"bye", 3); }, L"bye world"},
        {"SetAt", [](CUnicodeString& s) { s.SetAt(0, L'J'); }, L"Jello world"},
        {"SetLength", [](CUnicodeString& s) { s.SetLength(4); }, L"hell"},
        {"GetBuffer", [](CUnicodeString& s) { s.GetBuffer(11)[0] = L'c'; s.ReleaseBuffer(); }, L"cello world"},
        {"MakeUpper", [](CUnicodeString& s) { s.MakeUpper(); }, L"HELLO WORLD"},
        {"Assign", [](CUnicodeString& s) { s.Assign(L"x", 1); }, L"x"},
        {"FromInt", [](CUnicodeString& s) { s.FromInt(7); }, L"7"},
        {"Empty", [](CUnicodeString& s) { s.Empty(); }, L""},
    };
    for (const auto& c : cases) {
        const CUnicodeString original = L"hello world";
        CUnicodeString copy = original;
        EXPECT_TRUE(copy.SharesBufferWith(original)) << c.name;
        EXPECT_EQ(original.GetReferenceCount(), 2) << c.name;
        c.write(copy);
        EXPECT_EQ(Std(original), L"hello world") << c.name;
        EXPECT_EQ(Std(copy), c.result) << c.name;
        EXPECT_EQ(original.GetReferenceCount(), 1) << c.name;
    }
}

TEST(UnicodeString, SoleHolderWithRoomWritesInPlace)
{
    CUnicodeString s = L"abc"; // 32-byte block: room for 7
    const wchar_t* before = s.GetText();
    s += L"defg";
    s.SetAt(0, L'A');
    s.Delete(1, 2);
    s.Insert(L"xy", 2, 0);
    EXPECT_EQ(Std(s), L"xyAdefg");
    EXPECT_EQ(s.GetText(), before);
}

TEST(UnicodeString, WritingASharedBufferCopiesAtItsCurrentSize)
{
    const struct { const char* name; int32_t length; std::function<void(CUnicodeString&)> write; uint64_t capacity; } cases[] = {
        {"SetAt, heap", 100, [](CUnicodeString& s) { s.SetAt(0, L'x'); }, 218},
        {"SetLength shorter", 60, [](CUnicodeString& s) { s.SetLength(30); }, 138},
        {"Delete", 30, [](CUnicodeString& s) { s.Delete(0, 20); }, 128},
        {"Append within the class", 20, [](CUnicodeString& s) { s += L'x'; }, 64},
        {"Append beyond the pools", 100, [](CUnicodeString& s) { s += L'x'; }, 258},
    };
    for (const auto& c : cases) {
        const CUnicodeString original = Repeat(L'o', c.length);
        CUnicodeString copy = original;
        c.write(copy);
        EXPECT_EQ(copy.GetCapacity(), c.capacity) << c.name;
        EXPECT_FALSE(copy.SharesBufferWith(original)) << c.name;
    }
}

TEST(UnicodeString, GetBufferGivesRoomAndReleaseBufferSetsTheLength)
{
    CUnicodeString s = L"abc";
    wchar_t* room = s.GetBuffer(50);
    EXPECT_EQ(s.GetLength(), 3);
    EXPECT_EQ(room[50], 0);
    wcscpy(room, L"hello");
    s.ReleaseBuffer();
    EXPECT_EQ(Std(s), L"hello");
    EXPECT_EQ(s.GetCapacity(), 128u);
    s.GetBuffer(5)[4] = L'!';
    s.ReleaseBuffer(5);
    EXPECT_EQ(Std(s), L"hell!");
    s.Empty(); // the sole holder keeps its block
    EXPECT_EQ(s.GetCapacity(), 128u);
    EXPECT_EQ(s.GetText()[0], 0);
}

TEST(UnicodeString, GrowthAddsAFifthBeyondThePools)
{
    const struct { int32_t start; int32_t added; uint64_t capacity; } cases[] = {
        {20, 3, 64},    // still fits the 64-byte block
        {23, 1, 128},   // next pool class, exact
        {55, 1, 150},   // 55 + 55 / 5 = 66 characters
        {100, 1, 258},  // 120 characters
        {100, 20, 258}, // exactly 120
        {100, 50, 318}, // more than a fifth: exactly 150
    };
    for (const auto& c : cases) {
        CUnicodeString s = Repeat(L'a', c.start);
        s += Repeat(L'b', c.added);
        EXPECT_EQ(s.GetCapacity(), c.capacity) << c.start << " + " << c.added;
        EXPECT_EQ(s.GetLength(), c.start + c.added);
    }
}

TEST(UnicodeString, AppendingAStringToItselfIsSafe)
{
    CUnicodeString s = L"abcdef";
    s.Append(s);
    EXPECT_EQ(Std(s), L"abcdefabcdef");
    s.Append(s.GetText() + 3, 4); // raw pointer into its own buffer, which must grow
    EXPECT_EQ(Std(s), L"abcdefabcdefdefa");
    s.Insert(s.GetText(), 2, 1);
    EXPECT_EQ(Std(s), L"aabbcdefabcdefdefa");
    s.ReplacePrefix(2, s.GetText() + 16, 2);
    EXPECT_EQ(Std(s), L"fabbcdefabcdefdefa");
    s.Assign(s.GetText() + 1, 3);
    EXPECT_EQ(Std(s), L"abb");
}

TEST(UnicodeString, CountsStayExactUnderConcurrentCopies)
{
    const CUnicodeString shared = Repeat(L's', 40);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50000; ++i) {
                CUnicodeString copy = shared;
                CUnicodeString again = copy;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(shared.GetReferenceCount(), 1);
}

TEST(UnicodeString, SubstParamFillsPlaceholders)
{
    const wchar_t* params[13] = {L"A", L"B", L"C", L"D", L"E", L"F", L"G", L"H", L"I", L"J", L"K", L"L", L"M"};
    const struct { const wchar_t* text; int32_t count; const wchar_t* result; } cases[] = {
        {L"%0 and %1", 1, L"A and "},
        {L"100%", 1, L"100%"},
        {L"%x", 1, L"%x"},
        {L"%%0", 1, L"%A"},
        {L"%%", 1, L"%%"},
        {L"%", 1, L"%"},
        {L"%1%0", 2, L"BA"},
        {L"[%12]", 13, L"[M]"},
        {L"[%12]", 2, L"[]"},
        {L"%007", 13, L"H"},
        {L"%99999999999 end", 1, L"%99999999999 end"},
        {L"%2147483647", 1, L""},
        {L"no placeholder", 0, L"no placeholder"},
        {L"trailing %1", 2, L"trailing B"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Std(CUnicodeString(c.text).SubstParam(params, c.count)), c.result) << c.text;
}

TEST(UnicodeString, SubstParamTakesStringsAndNullTexts)
{
    std::vector<CUnicodeString> many;
    for (int i = 0; i < 20; ++i)
        many.push_back(Repeat(static_cast<wchar_t>(L'a' + i), 2));
    EXPECT_EQ(Std(CUnicodeString(L"%19-%0").SubstParam(many.data(), 20)), L"tt-aa");
    const wchar_t* withNull[] = {nullptr, L"x"};
    EXPECT_EQ(Std(CUnicodeString(L"<%0%1>").SubstParam(withNull, 2)), L"<x>");
}

TEST(UnicodeString, ParseBoolAcceptsTheWordsAndOtherwiseLeavesTheOutput)
{
    const struct { const wchar_t* text; bool ok; bool value; } cases[] = {
        {L"  Yes ", true, true}, {L"OFF", true, false}, {L"true", true, true}, {L"On", true, true},
        {L"1", true, true}, {L"no", true, false}, {L"\x3000" L"FALSE\t", true, false}, {L"0", true, false},
        {L"2", false, false}, {L"", false, false}, {L"yess", false, false}, {L"y", false, false},
    };
    for (const auto& c : cases) {
        for (bool sentinel : {false, true}) {
            bool out = sentinel;
            EXPECT_EQ(CUnicodeString(c.text).ParseBool(out), c.ok) << c.text;
            EXPECT_EQ(out, c.ok ? c.value : sentinel) << c.text;
        }
    }
}

TEST(UnicodeString, ParseIntAcceptsOnlyAWholeNumber)
{
    const struct { const wchar_t* text; bool ok; int32_t value; } cases[] = {
        {L" 42 ", true, 42}, {L"-2147483648", true, INT32_MIN}, {L"2147483647", true, INT32_MAX},
        {L"\x00A0+7\x3000", true, 7}, {L"42x", false, 0}, {L"", false, 0}, {L"   ", false, 0},
        {L"2147483648", false, 0}, {L"-2147483649", false, 0}, {L"4 2", false, 0}, {L"-", false, 0},
    };
    for (const auto& c : cases) {
        int32_t out = -12345;
        EXPECT_EQ(CUnicodeString(c.text).ParseInt(out), c.ok) << c.text;
        EXPECT_EQ(out, c.ok ? c.value : -12345) << c.text;
    }
}

TEST(UnicodeString, TrimRemovesTheMembersOfTheSetAtBothEnds)
{
    const struct { const wchar_t* text; const CUnicodeSet* set; const wchar_t* result; } cases[] = {
        {L"  a b  ", &WhitespaceSet, L"a b"},
        {L"\x00A0\x2028x\x202F\x205F\x3000", &WhitespaceSet, L"x"},
        {L"\x00A0x\x00A0", &StrictWhitespaceSet, L"\x00A0x\x00A0"},
        {L"\x2000x\x200A", &StrictWhitespaceSet, L"x"},
        {L"\x200Bx", &WhitespaceSet, L"\x200Bx"},
        {L"abc", &WhitespaceSet, L"abc"},
        {L"007", &DigitSet, L""},
    };
    for (const auto& c : cases) {
        CUnicodeString s = c.text;
        s.Trim(*c.set);
        EXPECT_EQ(Std(s), c.result) << c.text;
    }
}

TEST(UnicodeString, CharacterSetsHoldExactlyTheirMembers)
{
    const struct { wchar_t c; bool white; bool strict; bool digit; } cases[] = {
        {0x08, false, false, false}, {0x09, true, true, false}, {0x0D, true, true, false},
        {0x0E, false, false, false}, {0x20, true, true, false}, {0x85, true, true, false},
        {0xA0, true, false, false}, {0x1680, true, true, false}, {0x1FFF, false, false, false},
        {0x200A, true, true, false}, {0x200B, false, false, false}, {0x2029, true, true, false},
        {0x3000, true, true, false}, {L'0', false, false, true}, {L'9', false, false, true},
        {L'/', false, false, false}, {0xFF10, false, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WhitespaceSet.Contains(c.c), c.white) << std::hex << int(c.c);
        EXPECT_EQ(StrictWhitespaceSet.Contains(c.c), c.strict) << std::hex << int(c.c);
        EXPECT_EQ(DigitSet.Contains(c.c), c.digit) << std::hex << int(c.c);
    }
    CUnicodeSet set;
    set.AddRange(0xFFFE, 0xFFFF);
    set.Add(0x0400);
    EXPECT_TRUE(set.Contains(0xFFFF) && set.Contains(0xFFFE) && set.Contains(0x0400));
    EXPECT_FALSE(set.Contains(0xFFFD) || set.Contains(0x03FF) || set.Contains(0x0401));
    set.Clear();
    EXPECT_FALSE(set.Contains(0xFFFF) || set.Contains(0x0400));
}

TEST(UnicodeString, FormatUsesWideArgumentsAndGrows)
{
    CUnicodeString s;
    s.Format(L"%s=%d", L"wide", -5);
    EXPECT_EQ(Std(s), L"wide=-5");
    const CUnicodeString long1000 = Repeat(L'z', 1000);
    s.Format(L"<%s>", long1000.GetText());
    EXPECT_EQ(s.GetLength(), 1002);
    EXPECT_EQ(Std(s), L"<" + std::wstring(1000, L'z') + L">");
    for (int32_t length : {255, 256, 257, 512, 513}) { // around the first and second limits
        const CUnicodeString text = Repeat(L'q', length);
        s.Format(L"%s", text.GetText());
        EXPECT_EQ(Std(s), Std(text)) << length;
    }
    s.Format(L"<%s>", long1000.GetText());
    s.Format(L"%s, %s", s.GetText(), L"again"); // the argument is this string's own text
    EXPECT_EQ(s.GetLength(), 1009);
    EXPECT_TRUE(Std(s).starts_with(L"<zzz") && Std(s).ends_with(L">, again"));
}

TEST(UnicodeString, FromIntAndFromUIntFollowTheRadix)
{
    const struct { int64_t value; bool isSigned; int radix; const wchar_t* text; } cases[] = {
        {0, true, 10, L"0"}, {-1, true, 16, L"ffffffff"}, {INT32_MIN, true, 10, L"-2147483648"},
        {255, true, 2, L"11111111"}, {35, true, 36, L"z"}, {UINT32_MAX, false, 10, L"4294967295"},
        {0xDEADBEEF, false, 16, L"deadbeef"},
    };
    for (const auto& c : cases) {
        CUnicodeString s = L"previous";
        if (c.isSigned)
            s.FromInt(static_cast<int32_t>(c.value), c.radix);
        else
            s.FromUInt(static_cast<uint32_t>(c.value), c.radix);
        EXPECT_EQ(Std(s), c.text);
    }
}

TEST(UnicodeString, LoadFromResourceRetriesLongEntries)
{
    const HMODULE module = GetModuleHandleW(nullptr);
    // The capacity tells the last attempt: room for twice its limit (2 x 254 characters take
    // 1034 bytes, 2 x 1016 take 4082).
    const struct { uint32_t id; bool ok; int32_t length; uint64_t capacity; } cases[] = {
        {Entry200, true, 200, 1034}, {Entry126, true, 126, 1034}, {Entry600, true, 600, 4082},
        {MissingEntry, false, 0, 2}, {EmptyInBlock, true, 0, 2},
    };
    for (const auto& c : cases) {
        CUnicodeString s = L"previous";
        EXPECT_EQ(s.LoadFromResource(module, c.id), c.ok) << c.id;
        EXPECT_EQ(s.GetLength(), c.length) << c.id;
        EXPECT_EQ(s.GetCapacity(), c.capacity) << c.id;
        if (c.length > 0) {
            const wchar_t* direct = nullptr;
            const int n = LoadStringW(module, c.id, reinterpret_cast<wchar_t*>(&direct), 0);
            EXPECT_EQ(Std(s), std::wstring(direct, n)) << c.id;
        } else {
            EXPECT_EQ(s.GetText(), EmptyText());
        }
    }
}

TEST(UnicodeString, ToMultiByteConvertsByCodePage)
{
    const struct { const wchar_t* text; int32_t length; uint32_t codePage; const char* bytes; } cases[] = {
        {L"abc", 3, 1252, "abc"},
        {L"\x00E9t\x00E9", 3, 1252, "\xE9t\xE9"},
        {L"\x00E9", 1, 65001, "\xC3\xA9"},
        {L"\x20AC", 1, 1252, "\x80"},
        {L"a\0b", 3, 65001, "a"}, // the length ends at the first zero byte
        {L"abc", -1, 0, "abc"},
        {L"x", 1, 1, "x"},
        {L"\x4E2D", 1, 936, "\xD6\xD0"},
        {L"\x4E2D", 1, 65000, "+Ti0-"}, // refuses flags
        {L"\xF041", 1, 42, "A"},        // refuses flags
    };
    for (const auto& c : cases) {
        const CString s = CUnicodeString::ToMultiByte(c.text, c.length, c.codePage);
        EXPECT_EQ(std::string(s.GetText(), s.GetLength()), c.bytes) << c.codePage;
    }
    EXPECT_TRUE(CUnicodeString().ToMultiByte(65001).SharesBufferWith(CString()));
}

TEST(UnicodeString, FailedConversionIsAnInternalErrorWithTheSystemCode)
{
    try {
        CUnicodeString(L"abc").ToMultiByte(12345);
        FAIL() << "no error";
    } catch (CException* e) {
        auto* error = dynamic_cast<CInternalError*>(e);
        ASSERT_NE(error, nullptr);
        EXPECT_STREQ(error->GetSourceFile(), L"Src/UnicodeString");
        EXPECT_EQ(error->GetKind(), FailureKind::AssertLastError);
        EXPECT_NE(error->GetErrorCode(), 0u);
        delete e;
    }
}

TEST(UnicodeString, BadPositionsAreInternalErrorsAndChangeNothing)
{
    const struct { const char* name; std::function<void(CUnicodeString&)> call; const wchar_t* where; } cases[] = {
        {"Mid negative start", [](CUnicodeString& s) { s.Mid(-1, 1); }, L"Src/UnicodeString"},
        {"Mid past the end", [](CUnicodeString& s) { s.Mid(2, 5); }, L"Src/UnicodeString"},
        {"Delete past the end", [](CUnicodeString& s) { s.Delete(3, 9); }, L"Src/UnicodeString"},
        {"Insert past the end", [](CUnicodeString& s) { s.Insert(L"x", 1, 7); }, L"Src/UnicodeString"},
        {"SetAt at the length", [](CUnicodeString& s) { s.SetAt(6, L'x'); }, L"Src/UnicodeString"},
        {"SetLength longer", [](CUnicodeString& s) { s.SetLength(7); }, L"Src/UnicodeString"},
        {"ReplacePrefix too long", [](CUnicodeString& s) { s.ReplacePrefix(7, L"x", 1); }, L"Src/UnicodeString"},
        {"Append null", [](CUnicodeString& s) { s.Append(nullptr, 2); }, L"Src/UnicodeString"},
        {"FromInt radix 1", [](CUnicodeString& s) { s.FromInt(3, 1); }, L"Src/UnicodeString"},
        {"FromUInt radix 37", [](CUnicodeString& s) { s.FromUInt(3, 37); }, L"Src/UnicodeString"},
        {"Format null", [](CUnicodeString& s) { s.Format(nullptr); }, L"Src/UnicodeString"},
        {"LoadFromResource null", [](CUnicodeString& s) { s.LoadFromResource(nullptr, 1); }, L"Src/UnicodeString"},
        {"index past the end", [](CUnicodeString& s) { (void)s[7]; }, L"Inc/UnicodeString"},
        {"SubstParam null array", [](CUnicodeString& s) { s.SubstParam((const wchar_t* const*)nullptr, 1); }, L"Src/UnicodeString"},
    };
    for (const auto& c : cases) {
        CUnicodeString s = L"abcdef";
        EXPECT_EQ(InternalErrorOf([&] { c.call(s); }), c.where) << c.name;
        EXPECT_EQ(Std(s), L"abcdef") << c.name;
    }
}

TEST(UnicodeString, SearchAndCompare)
{
    const CUnicodeString s = L"C:\\dir\\file.txt";
    EXPECT_EQ(s.Find(L'\\'), 2);
    EXPECT_EQ(s.Find(L'\\', 3), 6);
    EXPECT_EQ(s.Find(L'?'), -1);
    EXPECT_EQ(s.ReverseFind(L'\\'), 6);
    EXPECT_EQ(s.Find(L"file"), 7);
    EXPECT_EQ(s.Find(L"txt", 13), -1);
    EXPECT_TRUE(s.StartsWith(L"C:") && s.EndsWith(L".txt") && !s.EndsWith(L"C:\\dir\\file.txt!"));
    const struct { const wchar_t* a; const wchar_t* b; int ordinal; int noCase; } cases[] = {
        {L"abc", L"abc", 0, 0}, {L"abc", L"ABC", 1, 0}, {L"ab", L"abc", -1, -1},
        {L"", L"", 0, 0}, {L"\x00E9", L"\x00C9", 1, 0}, {L"b", L"a\xFFFF", 1, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CUnicodeString(c.a).Compare(c.b), c.ordinal) << c.a << L" " << c.b;
        EXPECT_EQ(CUnicodeString(c.a).CompareNoCase(CUnicodeString(c.b)), c.noCase) << c.a;
        EXPECT_EQ(CUnicodeString(c.a) == CUnicodeString(c.b), c.ordinal == 0) << c.a;
    }
}

TEST(UnicodeString, NarrowStringSharesAndCopiesOnWrite)
{
    CString a = "abc";
    CString b = a;
    EXPECT_TRUE(a.SharesBufferWith(b));
    b.Append("def", 3);
    b.Append(b.GetText(), 3);
    EXPECT_EQ(std::string(a.GetText()), "abc");
    EXPECT_EQ(std::string(b.GetText()), "abcdefabc");
    b.SetLength(2);
    EXPECT_TRUE(b == "ab");
    b.Empty();
    EXPECT_EQ(b.GetCapacity(), 32u); // sole holder keeps its block
    const CString sharer = a;
    a.Empty();
    EXPECT_TRUE(a.SharesBufferWith(CString()));
    EXPECT_EQ(std::string(sharer.GetText()), "abc");
}

} // namespace
