#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "Alloc.h"
#include "TestSupport.h"
#include "UnicodeSet.h"
#include "UnicodeString.h"

using namespace Zelkor;

namespace {

using Str = CUnicodeString;
using Write = std::function<void(Str&)>;

TEST(UnicodeString, EveryEmptyResultSharesTheEmptyBuffer)
{
    const CUnicodeString text = L"abc";
    // clang-format off
    const struct { const char* name; std::function<CUnicodeString()> make; } cases[] = {
        {"counted, length 0", [] { return CUnicodeString(L"abc", 0); }}, {"Mid count 0", [&] { return text.Mid(1, 0); }},
        {"concatenation of empties", [] { return CUnicodeString() + L""; }},
        {"Format of nothing", [] { CUnicodeString s = L"old"; s.Format(L"%s", L""); return s; }},
        {"SubstParam to nothing", [] { return CUnicodeString(L"%3").SubstParam((const wchar_t* const*)nullptr, 0); }},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_TRUE(c.make().SharesBufferWith(CUnicodeString())) << c.name;
}

template <class S>
using CharOf = std::remove_cv_t<std::remove_pointer_t<decltype(S().GetText())>>;

template <class S>
S Make(const std::string& ascii)
{
    return S(std::basic_string<CharOf<S>>(ascii.begin(), ascii.end()).c_str());
}

template <class S>
std::string Ascii(const S& s)
{
    return std::string(s.GetText(), s.GetText() + s.GetLength());
}

// An edit of "abcdef" and its result; no result: a violated contract, reported at where (the
// kind's source when null), after which the string is as it was.
template <class S>
struct CEdit {
    const char* name;
    std::function<void(S&)> edit;
    const char* result;
    const wchar_t* where = nullptr;
};

// Each edit runs on a sole holder (written in place) and on a buffer shared with the original
// (copied first); many take their text from the string's own buffer.
template <class S>
void CheckEdits(const std::vector<CEdit<S>>& edits)
{
    const wchar_t* source = sizeof(CharOf<S>) == 1 ? L"Src/String" : L"Src/UnicodeString";
    for (bool shared : {false, true}) {
        for (const auto& c : edits) {
            SCOPED_TRACE(std::string(c.name) + (shared ? ", shared" : ", sole holder"));
            const S original = Make<S>("abcdef");
            S s = shared ? original : Make<S>("abcdef");
            if (c.result != nullptr) {
                c.edit(s);
            } else if (CInternalError* error = Catch<CInternalError>([&] { c.edit(s); })) {
                EXPECT_STREQ(error->GetSourceFile(), c.where ? c.where : source);
                delete error;
            }
            EXPECT_EQ(Ascii(s), c.result ? c.result : "abcdef");
            EXPECT_EQ(s.GetText()[s.GetLength()], 0);
            EXPECT_EQ(Ascii(original), "abcdef");
            // Only a shared buffer that is emptied goes back to the empty one, whose capacity
            // is below every need; any other holds its text.
            EXPECT_EQ(s.SharesBufferWith(S()), shared && s.IsEmpty());
            EXPECT_TRUE(s.SharesBufferWith(S()) || s.GetCapacity() >= 16 + (s.GetLength() + 1) * sizeof(CharOf<S>));
        }
    }
}

// Both string kinds edit through one core, so every case runs for each.
template <class S>
void CheckCoreEdits()
{
    CheckEdits<S>({
        {"Assign a part of itself", [](S& s) { s.Assign(s.GetText() + 1, 3); }, "bcd"},
        {"Assign a longer text", [](S& s) { s.Assign(Make<S>("0123456789ab").GetText(), 12); }, "0123456789ab"},
        {"Append its own tail", [](S& s) { s.Append(s.GetText() + 2, 4); }, "abcdefcdef"},
        {"SetLength shorter", [](S& s) { s.SetLength(2); }, "ab"},
        {"Empty", [](S& s) { s.Empty(); }, ""},
        {"ReleaseBuffer to the terminator",
         [](S& s) {
             s.GetBuffer(60)[3] = 0;
             s.ReleaseBuffer();
         },
         "abc"},
        {"Append past its own end", [](S& s) { s.Append(s.GetText() + 4, 3); }, nullptr},
        {"Append null", [](S& s) { s.Append(nullptr, 2); }, nullptr},
        {"SetLength longer", [](S& s) { s.SetLength(7); }, nullptr},
        {"ReleaseBuffer beyond the room", [](S& s) { s.ReleaseBuffer(int32_t((s.GetCapacity() - 16) / sizeof(CharOf<S>))); }, nullptr},
        {"counted construction from null", [](S&) { S(nullptr, 2); }, nullptr},
    });
}

TEST(StringCore, WideEdits)
{
    CheckCoreEdits<CUnicodeString>();
}
TEST(StringCore, NarrowEdits)
{
    CheckCoreEdits<CString>();
}

// Pooled classes of 32, 64 and 128 bytes, exact blocks of the string heap above; a shared
// buffer is copied at its current size, and growth beyond the pools adds a fifth. A heap block
// goes back when its last holder leaves, and the heap's byte count follows every block.
TEST(UnicodeString, CapacityFollowsLengthWritesAndGrowth)
{
    const Write none = [](Str&) {};
    // clang-format off
    const struct { const char* name; int32_t length; bool shared; Write write; uint64_t capacity; } cases[] = {
        {"length 7", 7, false, none, 32}, {"length 8", 8, false, none, 64}, {"length 56", 56, false, none, 130},
        {"shared SetAt, heap", 100, true, [](Str& s) { s.SetAt(0, L'x'); }, 218},
        {"shared SetLength shorter", 60, true, [](Str& s) { s.SetLength(30); }, 138},
        {"shared Append beyond the pools", 100, true, [](Str& s) { s += L'x'; }, 258},
        {"Append into the next pool class", 23, false, [](Str& s) { s += L'x'; }, 128},
        {"Append 55 + 1: a fifth more", 55, false, [](Str& s) { s += L'x'; }, 150},
        {"Append 100 + 50: more than a fifth", 100, false, [](Str& s) { s += std::wstring(50, L'b').c_str(); }, 318},
    };
    // clang-format on
    const int32_t blocks = StringHeap.GetBlockCount();
    const uint64_t bytes = StringHeap.GetByteCount();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            const CUnicodeString original = std::wstring(c.length, L'o').c_str();
            CUnicodeString s = c.shared ? original : CUnicodeString(original.GetText());
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

TEST(UnicodeString, CountsStayExactUnderConcurrentCopies)
{
    const CUnicodeString shared = std::wstring(40, L's').c_str();
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
    const wchar_t* params[] = {L"A", L"B", nullptr};
    // clang-format off
    const struct { const wchar_t* text; int32_t count; const wchar_t* result; } cases[] = {
        {L"%0 and %1", 1, L"A and "}, {L"100%", 1, L"100%"}, {L"%x", 1, L"%x"}, {L"%%0", 1, L"%A"}, {L"%1%0", 2, L"BA"},
        {L"%99999999999 end", 1, L"%99999999999 end"}, {L"%2147483647", 1, L""}, {L"<%2%1>", 3, L"<B>"},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(W(CUnicodeString(c.text).SubstParam(params, c.count)), c.result) << c.text;
    std::vector<CUnicodeString> many(20, L"x"); // more than the call keeps on its stack
    many[19] = L"tt";
    EXPECT_EQ(W(CUnicodeString(L"%19-%0").SubstParam(many.data(), 20)), L"tt-x");
}

// A failed parse leaves the output alone.
TEST(UnicodeString, ParseAcceptsOnlyAWholeWordOrNumber)
{
    // clang-format off
    const struct { const wchar_t* text; bool ok; bool value; } words[] = {
        {L"  Yes ", true, true}, {L"\x3000" L"FALSE\t", true, false}, {L"2", false, false}, {L"yess", false, false},
    };
    // clang-format on
    for (const auto& c : words) {
        bool out = !c.value; // a success must store
        EXPECT_EQ(CUnicodeString(c.text).ParseBool(out), c.ok) << c.text;
        EXPECT_EQ(out, c.ok ? c.value : !c.value) << c.text;
    }
    // clang-format off
    const struct { const wchar_t* text; bool ok; int32_t value; } numbers[] = {
        {L"-2147483648", true, INT32_MIN}, {L"2147483647", true, INT32_MAX}, {L"\x00A0+7\x3000", true, 7},
        {L"42x", false, 0}, {L"2147483648", false, 0}, {L"-2147483649", false, 0}, {L"4 2", false, 0}, {L"", false, 0},
    };
    // clang-format on
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
    // clang-format off
    const struct { const wchar_t* text; const CUnicodeSet* set; const wchar_t* result; } cases[] = {
        {L"\x0009\x000D\x0085\x00A0\x1680\x2028x\x2029\x200A\x202F\x205F\x3000", &WhitespaceSet, L"x"},
        {L"09/90", &DigitSet, L"/"}, {L"007", &DigitSet, L""}, {L"\xFF10" L"1", &DigitSet, L"\xFF10"},
        {L"\xFFFF\x0400\xFFFEx\xFFFD", &set, L"x\xFFFD"}, {L"\x03FFx\x0401", &set, L"\x03FFx\x0401"},
    };
    // clang-format on
    for (const auto& c : cases) {
        CUnicodeString t = c.text;
        t.Trim(*c.set);
        EXPECT_EQ(W(t), c.result) << c.text;
    }
    set.Clear();
    EXPECT_FALSE(set.Contains(0xFFFF) || set.Contains(0x0400));
}

TEST(UnicodeString, FormatWritesTheWholeText)
{
    CUnicodeString s;
    for (int32_t length : {255, 256, 512, 513}) { // around the first and second limits
        s.Format(L"%s", std::wstring(length, L'q').c_str());
        EXPECT_EQ(W(s), std::wstring(length, L'q')) << length;
    }
}

TEST(UnicodeString, LoadFromResourceRetriesLongEntries)
{
    // Each entry repeats this cycle from its own first letter.
    const std::wstring cycle = L"bipwdkryfmtahovcjqxelszgnu";
    // The capacity tells the last attempt: room for twice its limit (2 x 254 characters take
    // 1034 bytes, 2 x 1016 take 4082); that of the shared empty buffer is 2. The entries of
    // UnicodeStringTest.rc: 100 has 200 characters, 101 fills the first attempt exactly, 102 has
    // 600, 199 is missing with its whole block, 103 is absent from an existing block (empty).
    // clang-format off
    const struct { uint32_t id; bool ok; int32_t length; uint64_t capacity; size_t first; } cases[] = {
        {100, true, 200, 1034, 0}, {101, true, 126, 1034, 15}, {102, true, 600, 4082, 4},
        {199, false, 0, 2, 0}, {103, true, 0, 2, 0},
    };
    // clang-format on
    for (const auto& c : cases) {
        CUnicodeString s = L"previous";
        EXPECT_EQ(s.LoadFromResource(GetModuleHandleW(nullptr), c.id), c.ok) << c.id;
        EXPECT_EQ(s.GetCapacity(), c.capacity) << c.id;
        std::wstring expected;
        for (int32_t i = 0; i < c.length; ++i)
            expected += cycle[(c.first + i) % cycle.size()];
        EXPECT_EQ(W(s), expected) << c.id;
    }
}

TEST(UnicodeString, ToMultiByteConvertsByCodePage)
{
    // clang-format off
    const struct { const wchar_t* text; int32_t length; uint32_t codePage; const char* bytes; } cases[] = {
        {L"\x00E9", 1, 65001, "\xC3\xA9"}, {L"abc", -1, 0, "abc"},
        {L"a\0b", 3, 65001, "a"},       // the length ends at the first zero byte
        {L"\x4E2D", 1, 65000, "+Ti0-"}, // refuses flags
    };
    // clang-format on
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

// The edits of the wide string alone; the shared ones are in StringCore.
TEST(UnicodeString, EditsFromItsOwnTextAndBadPositions)
{
    CheckEdits<Str>({
        {"Append itself", [](Str& s) { s.Append(s); }, "abcdefabcdef"},
        {"Insert its own head", [](Str& s) { s.Insert(s.GetText(), 2, 1); }, "aabbcdef"},
        {"ReplacePrefix by its own tail", [](Str& s) { s.ReplacePrefix(2, s.GetText() + 4, 2); }, "efcdef"},
        {"Format from its own text", [](Str& s) { s.Format(L"<%s>", s.GetText()); }, "<abcdef>"},
        {"Delete", [](Str& s) { s.Delete(1, 2); }, "adef"},
        {"SetAt", [](Str& s) { s.SetAt(0, L'J'); }, "Jbcdef"},
        {"FromInt", [](Str& s) { s.FromInt(-1, 16); }, "ffffffff"},
        {"FromUInt, unsigned", [](Str& s) { s.FromUInt(UINT32_MAX, 10); }, "4294967295"},
        {"Delete past the end", [](Str& s) { s.Delete(3, 9); }, nullptr},
        {"Mid negative start", [](Str& s) { s.Mid(-1, 1); }, nullptr},
        {"Mid past the end", [](Str& s) { s.Mid(2, 5); }, nullptr},
        {"Insert past the end", [](Str& s) { s.Insert(L"x", 1, 7); }, nullptr},
        {"SetAt at the length", [](Str& s) { s.SetAt(6, L'x'); }, nullptr},
        {"Format null", [](Str& s) { s.Format(nullptr); }, nullptr},
        {"ReplacePrefix too long", [](Str& s) { s.ReplacePrefix(7, L"x", 1); }, nullptr},
        {"FromInt radix 1", [](Str& s) { s.FromInt(3, 1); }, nullptr},
        {"FromUInt radix 37", [](Str& s) { s.FromUInt(3, 37); }, nullptr},
        {"LoadFromResource null", [](Str& s) { s.LoadFromResource(nullptr, 1); }, nullptr},
        {"index past the end", [](Str& s) { (void)s[7]; }, nullptr, L"Inc/UnicodeString"},
        {"SubstParam null array", [](Str& s) { s.SubstParam((const wchar_t* const*)nullptr, 1); }, nullptr},
    });
}

TEST(UnicodeString, SearchAndCompare)
{
    const CUnicodeString s = L"C:\\dir\\file.txt";
    EXPECT_EQ(s.Find(L'\\', 3), 6);
    EXPECT_EQ(s.Find(L"txt", 13), -1);
    EXPECT_EQ(s.Find(L"txt"), 12);
    EXPECT_TRUE(s.StartsWith(L"C:") && !s.StartsWith(L"C:\\dir\\file.txt!"));
    // clang-format off
    const struct { const wchar_t* a; const wchar_t* b; int ordinal; int noCase; } cases[] = {
        {L"abc", L"ABC", 1, 0}, {L"ab", L"abc", -1, -1}, {L"", L"", 0, 0},
        {L"\x00E9", L"\x00C9", 1, 0}, {L"b", L"a\xFFFF", 1, 1},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(CUnicodeString(c.a).Compare(c.b), c.ordinal) << c.a << L" " << c.b;
        EXPECT_EQ(CUnicodeString(c.a).CompareNoCase(CUnicodeString(c.b)), c.noCase) << c.a;
        EXPECT_EQ(CUnicodeString(c.a) == CUnicodeString(c.b), c.ordinal == 0) << c.a;
    }
}

} // namespace
