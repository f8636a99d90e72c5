#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Alloc.h"
#include "Errors.h"
#include "TestSupport.h"
#include "UnicodeSet.h"
#include "UnicodeString.h"

using namespace Zelkor;

namespace {

// Ids of the string-table entries in UnicodeStringTest.rc.
constexpr uint32_t Entry200 = 100;
constexpr uint32_t Entry126 = 101;     // fills the first attempt exactly
constexpr uint32_t Entry600 = 102;
constexpr uint32_t MissingEntry = 199; // not even its block exists
constexpr uint32_t EmptyInBlock = 103; // absent from an existing block: an empty entry

CUnicodeString Repeat(wchar_t c, int32_t n)
{
    return CUnicodeString(std::wstring(n, c).c_str());
}

const wchar_t* EmptyText()
{
    static const CUnicodeString empty;
    return empty.GetText();
}

using Str = CUnicodeString;
using Write = std::function<void(Str&)>;

TEST(UnicodeString, EveryEmptyResultSharesTheEmptyBuffer)
{
    const CUnicodeString text = L"abc", blanks = L" \t ";
    const struct { const char* name; std::function<CUnicodeString()> make; } cases[] = {
        {"counted, length 0", [] { return CUnicodeString(L"abc", 0); }},
        {"Mid count 0", [&] { return text.Mid(1, 0); }},
        {"concatenation of empties", [] { return CUnicodeString() + L""; }},
        {"Empty on a shared buffer", [&] { CUnicodeString s = text; s.Empty(); return s; }},
        {"SetLength 0 on a shared buffer", [&] { CUnicodeString s = text; s.SetLength(0); return s; }},
        {"Delete all on a shared buffer", [&] { CUnicodeString s = text; s.Delete(0, 3); return s; }},
        {"Assign 0 on a shared buffer", [&] { CUnicodeString s = text; s.Assign(L"x", 0); return s; }},
        {"Trim of shared blanks", [&] { CUnicodeString s = blanks; s.Trim(); return s; }},
        {"Format of nothing", [] { CUnicodeString s = L"old"; s.Format(L"%s", L""); return s; }},
        {"SubstParam to nothing", [] { return CUnicodeString(L"%3").SubstParam((const wchar_t* const*)nullptr, 0); }},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.make().GetText(), EmptyText()) << c.name;
}

TEST(UnicodeString, WritingToACopyLeavesTheOriginal)
{
    const struct { const char* name; Write write; const wchar_t* result; } cases[] = {
        {"Append", [](Str& s) { s.Append(L"!", 1); }, L"hello world!"},
        {"Insert", [](Str& s) { s.Insert(L"<", 1, 5); }, L"hello< world"},
        {"Delete", [](Str& s) { s.Delete(0, 6); }, L"world"},
        {"ReplacePrefix", [](Str& s) { s.ReplacePrefix(5, L"bye", 3); }, L"bye world"},
        {"SetAt", [](Str& s) { s.SetAt(0, L'J'); }, L"Jello world"},
        {"SetLength", [](Str& s) { s.SetLength(4); }, L"hell"},
        {"GetBuffer", [](Str& s) { s.GetBuffer(11)[0] = L'c'; s.ReleaseBuffer(); }, L"cello world"},
        {"GetBuffer beyond the length, ReleaseBuffer to a length",
         [](Str& s) { wcscpy(s.GetBuffer(50), L"hello!"); EXPECT_EQ(s.GetLength(), 11); s.ReleaseBuffer(5); }, L"hello"},
        {"MakeUpper", [](Str& s) { s.MakeUpper(); }, L"HELLO WORLD"}, {"FromInt", [](Str& s) { s.FromInt(7); }, L"7"},
        {"Assign", [](Str& s) { s.Assign(L"bye", 3); }, L"bye"},
    };
    for (const auto& c : cases) {
        const CUnicodeString original = L"hello world";
        CUnicodeString copy = original;
        c.write(copy);
        EXPECT_EQ(W(original), L"hello world") << c.name;
        EXPECT_EQ(W(copy), c.result) << c.name;
        EXPECT_EQ(original.GetReferenceCount(), 1) << c.name;
    }
}

// Pooled classes of 32, 64 and 128 bytes, exact blocks of the string heap above; a shared
// buffer is copied at its current size, and growth beyond the pools adds a fifth. A heap block
// goes back when its last holder leaves, and the heap's byte count follows every block.
TEST(UnicodeString, CapacityFollowsLengthWritesAndGrowth)
{
    const Write none = [](Str&) {};
    const struct { const char* name; int32_t length; bool shared; Write write; uint64_t capacity; } cases[] = {
        {"length 7", 7, false, none, 32}, {"length 8", 8, false, none, 64}, {"length 24", 24, false, none, 128},
        {"length 55", 55, false, none, 128}, {"length 56", 56, false, none, 130},
        {"shared SetAt, heap", 100, true, [](Str& s) { s.SetAt(0, L'x'); }, 218},
        {"shared SetLength shorter", 60, true, [](Str& s) { s.SetLength(30); }, 138},
        {"shared Append beyond the pools", 100, true, [](Str& s) { s += L'x'; }, 258},
        {"Append into the next pool class", 23, false, [](Str& s) { s += L'x'; }, 128},
        {"Append 55 + 1: a fifth more", 55, false, [](Str& s) { s += L'x'; }, 150},
        {"Append 100 + 50: more than a fifth", 100, false, [](Str& s) { s += Repeat(L'b', 50); }, 318},
    };
    const int32_t blocks = StringHeap.GetBlockCount();
    const uint64_t bytes = StringHeap.GetByteCount();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            const CUnicodeString original = Repeat(L'o', c.length);
            CUnicodeString s = c.shared ? original : Repeat(L'o', c.length);
            c.write(s);
            EXPECT_EQ(s.GetCapacity(), c.capacity);
            EXPECT_EQ(s.GetText()[s.GetLength()], 0);
            EXPECT_FALSE(s.SharesBufferWith(original));
        }
        EXPECT_EQ(StringHeap.GetBlockCount(), blocks);
        EXPECT_EQ(StringHeap.GetByteCount(), bytes);
    }
    EXPECT_EQ(CString(std::string(112, 'x').c_str()).GetCapacity(), 129u) << "a byte a character";
}

// Also for the narrow string, whose slow path is its own.
TEST(UnicodeString, WritingFromItsOwnTextIsSafe)
{
    CUnicodeString s = L"abcdef";
    s.Append(s);
    EXPECT_EQ(W(s), L"abcdefabcdef");
    s.Append(s.GetText() + 3, 4); // the buffer must grow under the source
    EXPECT_EQ(W(s), L"abcdefabcdefdefa");
    s.Insert(s.GetText(), 2, 1);
    EXPECT_EQ(W(s), L"aabbcdefabcdefdefa");
    s.ReplacePrefix(2, s.GetText() + 16, 2);
    EXPECT_EQ(W(s), L"fabbcdefabcdefdefa");
    s.Assign(s.GetText() + 1, 3);
    EXPECT_EQ(W(s), L"abb");
    s.Format(L"<%s>", Repeat(L'z', 1000).GetText());
    s.Format(L"%s, %s", s.GetText(), L"again");
    EXPECT_EQ(W(s), L"<" + std::wstring(1000, L'z') + L">, again");

    CString a = "abcdef";
    CString b = a;
    b.Append(b.GetText() + 1, 3); // shared as well
    b.Append(b.GetText(), 9);     // grows under the source
    EXPECT_EQ(std::string(a.GetText()), "abcdef");
    EXPECT_EQ(std::string(b.GetText()), "abcdefbcdabcdefbcd");
    b = a;
    a.Empty();
    EXPECT_TRUE(a.SharesBufferWith(CString()));
    EXPECT_EQ(std::string(b.GetText()), "abcdef");
}

TEST(UnicodeString, CountsStayExactUnderConcurrentCopies)
{
    const CUnicodeString shared = Repeat(L's', 40);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50000; ++i)
                CUnicodeString copy = shared, again = copy;
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(shared.GetReferenceCount(), 1);
}

TEST(UnicodeString, SubstParamFillsPlaceholders)
{
    const wchar_t* params[13] = {L"A", L"B", L"C", L"D", L"E", L"F", L"G", L"H", L"I", L"J", L"K", L"L", L"M"};
    const struct { const wchar_t* text; int32_t count; const wchar_t* result; } cases[] = {
        {L"%0 and %1", 1, L"A and "}, {L"100%", 1, L"100%"}, {L"%x", 1, L"%x"}, {L"%%0", 1, L"%A"},
        {L"%1%0", 2, L"BA"}, {L"[%12]", 13, L"[M]"}, {L"%007", 13, L"H"},
        {L"%99999999999 end", 1, L"%99999999999 end"}, {L"%2147483647", 1, L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(W(CUnicodeString(c.text).SubstParam(params, c.count)), c.result) << c.text;
    std::vector<CUnicodeString> many;
    for (int i = 0; i < 20; ++i)
        many.push_back(Repeat(static_cast<wchar_t>(L'a' + i), 2));
    EXPECT_EQ(W(CUnicodeString(L"%19-%0").SubstParam(many.data(), 20)), L"tt-aa");
    const wchar_t* withNull[] = {nullptr, L"x"};
    EXPECT_EQ(W(CUnicodeString(L"<%0%1>").SubstParam(withNull, 2)), L"<x>");
}

// A failed parse leaves the output alone.
TEST(UnicodeString, ParseAcceptsOnlyAWholeWordOrNumber)
{
    const struct { const wchar_t* text; bool ok; bool value; } words[] = {
        {L"  Yes ", true, true}, {L"OFF", true, false}, {L"\x3000" L"FALSE\t", true, false},
        {L"2", false, false}, {L"", false, false}, {L"yess", false, false},
    };
    for (const auto& c : words) {
        bool out = !c.value; // a success must store
        EXPECT_EQ(CUnicodeString(c.text).ParseBool(out), c.ok) << c.text;
        EXPECT_EQ(out, c.ok ? c.value : !c.value) << c.text;
    }
    const struct { const wchar_t* text; bool ok; int32_t value; } numbers[] = {
        {L"-2147483648", true, INT32_MIN}, {L"2147483647", true, INT32_MAX}, {L"\x00A0+7\x3000", true, 7},
        {L"42x", false, 0}, {L"2147483648", false, 0}, {L"-2147483649", false, 0}, {L"4 2", false, 0}, {L"", false, 0},
    };
    for (const auto& c : numbers) {
        int32_t out = -12345;
        EXPECT_EQ(CUnicodeString(c.text).ParseInt(out), c.ok) << c.text;
        EXPECT_EQ(out, c.ok ? c.value : -12345) << c.text;
    }
}

// The set rows sit on both sides of its range ends.
TEST(UnicodeString, TrimRemovesExactlyTheSetsMembersAtBothEnds)
{
    CUnicodeSet set;
    set.AddRange(0xFFFE, 0xFFFF);
    set.Add(0x0400);
    const struct { const wchar_t* text; const CUnicodeSet* set; const wchar_t* result; } cases[] = {
        {L"\x0009\x000D\x0085\x00A0\x1680\x2028x\x2029\x200A\x202F\x205F\x3000", &WhitespaceSet, L"x"},
        {L"09/90", &DigitSet, L"/"}, {L"007", &DigitSet, L""}, {L"\xFF10" L"1", &DigitSet, L"\xFF10"},
        {L"\xFFFF\x0400\xFFFEx\xFFFD", &set, L"x\xFFFD"}, {L"\x03FFx\x0401", &set, L"\x03FFx\x0401"},
    };
    for (const auto& c : cases) {
        CUnicodeString t = c.text;
        t.Trim(*c.set);
        EXPECT_EQ(W(t), c.result) << c.text;
    }
    set.Clear();
    EXPECT_FALSE(set.Contains(0xFFFF) || set.Contains(0x0400));
}

TEST(UnicodeString, FormatAndFromIntWriteTheWholeText)
{
    CUnicodeString s;
    for (int32_t length : {255, 256, 512, 513}) { // around the first and second limits
        const CUnicodeString text = Repeat(L'q', length);
        s.Format(L"%s", text.GetText());
        EXPECT_EQ(W(s), W(text)) << length;
    }
    // The radix reaches the conversion, and the unsigned one stays unsigned.
    s.FromInt(-1, 16);
    EXPECT_EQ(W(s), L"ffffffff");
    s.FromUInt(UINT32_MAX, 10);
    EXPECT_EQ(W(s), L"4294967295");
}

TEST(UnicodeString, LoadFromResourceRetriesLongEntries)
{
    // Each entry repeats this cycle from its own first letter.
    const std::wstring cycle = L"bipwdkryfmtahovcjqxelszgnu";
    // The capacity tells the last attempt: room for twice its limit (2 x 254 characters take
    // 1034 bytes, 2 x 1016 take 4082).
    const struct { uint32_t id; bool ok; int32_t length; uint64_t capacity; size_t first; } cases[] = {
        {Entry200, true, 200, 1034, 0}, {Entry126, true, 126, 1034, 15}, {Entry600, true, 600, 4082, 4},
        {MissingEntry, false, 0, 2, 0}, {EmptyInBlock, true, 0, 2, 0},
    };
    for (const auto& c : cases) {
        CUnicodeString s = L"previous";
        EXPECT_EQ(s.LoadFromResource(GetModuleHandleW(nullptr), c.id), c.ok) << c.id;
        EXPECT_EQ(s.GetCapacity(), c.capacity) << c.id;
        std::wstring expected;
        for (int32_t i = 0; i < c.length; ++i)
            expected += cycle[(c.first + i) % cycle.size()];
        EXPECT_EQ(W(s), expected) << c.id;
        EXPECT_TRUE(c.length > 0 || s.GetText() == EmptyText()) << c.id;
    }
}

TEST(UnicodeString, ToMultiByteConvertsByCodePage)
{
    const struct { const wchar_t* text; int32_t length; uint32_t codePage; const char* bytes; } cases[] = {
        {L"\x00E9", 1, 65001, "\xC3\xA9"}, {L"abc", -1, 0, "abc"},
        {L"a\0b", 3, 65001, "a"},       // the length ends at the first zero byte
        {L"\x4E2D", 1, 65000, "+Ti0-"}, // refuses flags
    };
    for (const auto& c : cases) {
        const CString s = CUnicodeString::ToMultiByte(c.text, c.length, c.codePage);
        EXPECT_EQ(std::string(s.GetText(), s.GetLength()), c.bytes) << c.codePage;
    }
    EXPECT_TRUE(CUnicodeString().ToMultiByte(65001).SharesBufferWith(CString()));
    CInternalError* error = Catch<CInternalError>([] { CUnicodeString(L"abc").ToMultiByte(12345); });
    ASSERT_NE(error, nullptr);
    EXPECT_STREQ(error->GetSourceFile(), L"Src/UnicodeString");
    EXPECT_EQ(error->GetKind(), FailureKind::AssertLastError);
    EXPECT_NE(error->GetErrorCode(), 0u);
    delete error;
}

TEST(UnicodeString, BadPositionsAreInternalErrorsAndChangeNothing)
{
    const struct { const char* name; Write call; const wchar_t* where = L"Src/UnicodeString"; } cases[] = {
        {"Mid negative start", [](Str& s) { s.Mid(-1, 1); }}, {"Mid past the end", [](Str& s) { s.Mid(2, 5); }},
        {"Delete past the end", [](Str& s) { s.Delete(3, 9); }},
        {"Insert past the end", [](Str& s) { s.Insert(L"x", 1, 7); }},
        {"SetAt at the length", [](Str& s) { s.SetAt(6, L'x'); }}, {"SetLength longer", [](Str& s) { s.SetLength(7); }},
        {"ReplacePrefix too long", [](Str& s) { s.ReplacePrefix(7, L"x", 1); }},
        {"Append null", [](Str& s) { s.Append(nullptr, 2); }}, {"FromInt radix 1", [](Str& s) { s.FromInt(3, 1); }},
        {"FromUInt radix 37", [](Str& s) { s.FromUInt(3, 37); }}, {"Format null", [](Str& s) { s.Format(nullptr); }},
        {"LoadFromResource null", [](Str& s) { s.LoadFromResource(nullptr, 1); }},
        {"index past the end", [](Str& s) { (void)s[7]; }, L"Inc/UnicodeString"},
        {"SubstParam null array", [](Str& s) { s.SubstParam((const wchar_t* const*)nullptr, 1); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CUnicodeString s = L"abcdef";
        if (CInternalError* error = Catch<CInternalError>([&] { c.call(s); })) {
            EXPECT_STREQ(error->GetSourceFile(), c.where);
            delete error;
        }
        EXPECT_EQ(W(s), L"abcdef");
    }
}

} // namespace
