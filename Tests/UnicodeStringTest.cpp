
#include <algorithm>
#include <functional>
#include <random>
#include <sstream>
#include <type_traits>

#include "Alloc.h"
#include "AtomicBlockManagerProbe.h"
#include "TestSupport.h"
#include "UnicodeSet.h"
#include "UnicodeString.h"

using namespace Zelkor;

namespace {

using Str = CUnicodeString;

template <class S>
using CharOf = std::remove_cv_t<std::remove_pointer_t<decltype(S().GetText())>>;

// The whitespace set Trim documents.
const std::wstring Whitespace = L"\x09\x0A\x0B\x0C\x0D\x20\x85\xA0\x1680\x2000\x2001\x2002\x2003\x2004\x2005\x2006\x2007\x2008\x2009"
                                L"\x200A\x2028\x2029\x202F\x205F\x3000";

const auto Upper = [](std::wstring text) { return CharUpperBuffW(text.data(), DWORD(text.size())), text; };
const auto Sign = [](int value) { return (value > 0) - (value < 0); };

// One seeded sequence of edits and searches on four strings, side by side with the standard
// string. Strings are copied into one another, so edits meet shared buffers; texts come from
// pieces, from the edited string's own buffer, from another string (which may share it) or are
// null. Positions reach one past either end: where the contract is broken the reference expects
// an internal error and no change. A failure prints the seed and the steps.
template <class S>
void RunStringSequence(uint64_t seed)
{
    using C = CharOf<S>;
    using R = std::basic_string<C>;
    constexpr bool wide = sizeof(C) == 2;
    std::mt19937_64 random(seed);
    const auto draw = [&](int32_t low, int32_t high) { return low + int32_t(random() % uint64_t(high - low + 1)); };
    // Units on both sides of the case and whitespace rules and of the trim sets' range ends; runs
    // that cross the pool classes.
    std::vector<R> pieces;
    for (const std::wstring& piece : std::initializer_list<std::wstring>{
             L"a", L"A", L"b", L"\xE9", L"\xC9", L" ", L"\xA0", L"\x3000", L"\xFFFF", L"09", L"\xFF10", L"\x03FF\x0400\x0401",
             L"\xFFFD\xFFFE", std::wstring(20, L'c'), L"ab" + std::wstring(60, L'z')}) {
        R units;
        for (wchar_t unit : piece)
            units += C(unit > 0xFF && !wide ? L'~' : unit);
        pieces.push_back(units);
    }
    // Trim's third set, built after a member that Clear took.
    CUnicodeSet ranged(L"a");
    ranged.Clear(), ranged.AddRange(0xFFFE, 0xFFFF), ranged.Add(0x0400);
    ASSERT_FALSE(ranged.Contains(wchar_t(0xFC61))) << "a page given back by Clear and taken again kept its member 'a'";
    S strings[4];
    R refs[4];
    std::ostringstream trace;
    trace << (wide ? "wide" : "narrow") << ", seed " << seed << ":";
    const auto note = [&](int to, const char* what, auto... numbers) {
        ((trace << " s" << to << what) << ... << (' ' + std::to_string(numbers)));
    };
    for (int step = 0; step < 100; ++step) {
        const int i = int(random() % 4), j = int(random() % 4);
        S& s = strings[i];
        const R& r = refs[i];
        const int32_t length = s.GetLength();
        const int32_t at = draw(-1, length + 1), count = draw(-1, length + 1);
        const C unit = pieces[random() % pieces.size()][0];
        R text = pieces[random() % pieces.size()];
        const C* source = text.c_str();
        int32_t sourceLength = int32_t(text.size());
        const int from = int(random() % 6) == 0 ? i : j;
        if (random() % 3 == 0 && !strings[from].IsEmpty()) {
            const int32_t start = draw(0, strings[from].GetLength() - 1);
            sourceLength = draw(1, strings[from].GetLength() - start);
            source = strings[from].GetText() + start;
            text = refs[from].substr(start, sourceLength);
        } else if (random() % 8 == 0) {
            source = nullptr, sourceLength = draw(-1, 2);
            text.clear();
        }
        const bool counted = source != nullptr || sourceLength <= 0;
        int target = -1; // the string a result goes to; none: the edit is in place
        R expected = r;
        bool valid = true;
        S result;
        bool concatenated = false; // a new buffer even when the other text is empty
        std::function<void()> edit;
        switch (random() % (wide ? 16 : 7)) {
        case 0: note(i, ".Assign", sourceLength), edit = [&] { s.Assign(source, sourceLength); }, valid = counted, expected = text; break;
        case 1:
            note(i, ".Append", sourceLength), edit = [&] { s.Append(source, sourceLength); }, valid = counted, expected = r + text;
            break;
        case 2:
            note(i, ".SetLength", count), edit = [&] { s.SetLength(count); }, valid = count >= 0 && count <= length;
            expected = r.substr(0, valid ? count : 0);
            break;
        case 3: note(i, ".Empty"), edit = [&] { s.Empty(); }, expected.clear(); break;
        case 4: {
            const int32_t room = draw(0, length + 70), written = std::min(room, int32_t(text.size()));
            const bool toTerminator = random() % 2;
            note(i, ".GetBuffer+ReleaseBuffer", room, toTerminator ? -1 : written);
            edit = [&, room, written, toTerminator] {
                C* chars = s.GetBuffer(room);
                std::copy(text.begin(), text.begin() + written, chars);
                chars[written] = 0;
                s.ReleaseBuffer(toTerminator ? -1 : written);
            };
            expected = text.substr(0, written);
            break;
        }
        case 5: note(i, "=", j), edit = [&] { s = strings[j]; }, expected = refs[j]; break;
        case 6: note(i, "=S", sourceLength), edit = [&] { s = S(source, sourceLength); }, valid = counted, expected = text; break;
        }
        if constexpr (wide) {
            switch (edit ? -1 : int(random() % 11)) { // 9 and 10: searches below
            case 0:
                note(i, ".Insert", sourceLength, at), edit = [&] { s.Insert(source, sourceLength, at); };
                valid = sourceLength <= 0 || (source && at >= 0 && at <= length);
                expected = sourceLength <= 0 || !valid ? r : R(r).insert(at, text);
                break;
            case 1:
                note(i, ".Delete", at, count), edit = [&] { s.Delete(at, count); },
                                               valid = count <= 0 || (at >= 0 && at <= length && count <= length - at);
                expected = count <= 0 || !valid ? r : R(r).erase(at, count);
                break;
            case 2:
                note(i, ".ReplacePrefix", count, sourceLength), edit = [&] { s.ReplacePrefix(count, source, sourceLength); };
                valid = count >= 0 && count <= length && sourceLength >= 0 && counted;
                expected = valid ? text + r.substr(count) : r;
                break;
            case 3:
                note(i, ".SetAt", at), edit = [&] { s.SetAt(at, unit); }, valid = at >= 0 && at < length;
                if (valid)
                    expected[at] = unit;
                break;
            case 4: note(i, "+=unit"), edit = [&] { s += unit; }, expected += unit; break;
            case 5: { // whitespace, the digits, or a range and a unit
                const int set = int(random() % 3);
                note(i, ".Trim", set), edit = [&, set] { set ? s.Trim(set == 1 ? DigitSet : ranged) : s.Trim(); };
                const std::wstring members = set == 0 ? Whitespace : set == 1 ? L"0123456789" : L"\xFFFE\xFFFF\x0400";
                const size_t first = r.find_first_not_of(members);
                expected = first == R::npos ? R() : r.substr(first, r.find_last_not_of(members) + 1 - first);
                break;
            }
            case 6:
                note(j, "=Mid", i, at, count), target = j, edit = [&] { result = s.Mid(at, count); };
                valid = at >= 0 && count >= 0 && at <= length && count <= length - at, expected = valid ? r.substr(at, count) : refs[j];
                break;
            case 7:
                note(j, count % 2 ? "=Mid" : "=Left", i, at), target = j, valid = count % 2 == 0 || (at >= 0 && at <= length);
                edit = [&] { result = count % 2 ? s.Mid(at) : s.Left(at); };
                expected = count % 2 ? (valid ? r.substr(at) : refs[j]) : r.substr(0, std::clamp(at, 0, length));
                break;
            case 8: { // counted, or through the operators: a plain text (null too) before, a unit after
                const int form = int(random() % 3);
                note(j, form == 0 ? "=Concat" : form == 1 ? "=text+" : "=+unit", sourceLength, i), target = j, concatenated = true;
                valid = form > 0 || (sourceLength >= 0 && counted), expected = !valid ? refs[j] : form == 2 ? r + unit : text + r;
                edit = [&, form] {
                    result = form == 0 ? S::Concat(source, sourceLength, s.GetText(), length)
                        : form == 1    ? (source ? text.c_str() : nullptr) + s
                                       : s + unit;
                };
                break;
            }
            }
        }
        if constexpr (wide) {
            if (!edit) { // searches and comparisons, which change nothing
                note(i, ".Find/StartsWith/Compare", at, j);
                const auto found = [](size_t at) { return at == R::npos ? -1 : int32_t(at); };
                int32_t position = -1;
                ASSERT_EQ(RaisesInternalError([&] { position = s.Find(unit, at); }), at < 0) << trace.str();
                ASSERT_EQ(position, at < 0 ? -1 : found(r.find(unit, at))) << trace.str();
                ASSERT_EQ(RaisesInternalError([&] { position = s.Find(text.c_str(), at); }), at < 0) << trace.str();
                ASSERT_EQ(position, at < 0 ? -1 : found(r.find(text.c_str(), at))) << trace.str();
                ASSERT_EQ(s.StartsWith(text.c_str()), r.starts_with(text.c_str())) << trace.str();
                ASSERT_EQ(s.Compare(strings[j]), Sign(r.compare(refs[j]))) << trace.str();
                ASSERT_EQ(s.Compare(text.c_str()), Sign(r.compare(text.c_str()))) << trace.str();
                ASSERT_EQ(s.CompareNoCase(strings[j]), Sign(Upper(r).compare(Upper(refs[j])))) << trace.str();
                ASSERT_EQ(s == strings[j], r == refs[j]) << trace.str();
                ASSERT_EQ(text.c_str() == s, text == r) << trace.str();
                continue;
            }
        }
        // Now and then an allocation of a valid edit fails: it raises the memory exception and
        // every string keeps its value.
        const int64_t failing = valid && random() % 4 == 0 ? draw(1, 2) : 0;
        trace << (failing ? " (allocation " + std::to_string(failing) + " fails)" : "");
        bool outOfMemory = false, internal = false;
        {
            const CFailingAllocation failure(failing);
            try {
                edit();
            } catch (CMemoryException* e) {
                delete e, outOfMemory = true;
            } catch (CInternalError* e) {
                delete e, internal = true;
            }
            ASSERT_EQ(outOfMemory, failure.Reached()) << trace.str();
        }
        ASSERT_EQ(internal, !valid) << trace.str();
        valid = valid && !outOfMemory;
        if (valid && target >= 0) {
            // An empty result is the empty buffer; the whole of a string is that string.
            EXPECT_EQ(result.SharesBufferWith(S()), expected.empty()) << trace.str();
            EXPECT_TRUE(length == 0 || result.SharesBufferWith(s) == (!concatenated && expected.size() == size_t(length))) << trace.str();
            strings[target] = result;
        }
        if (valid)
            refs[target >= 0 ? target : i] = expected;
        for (int k = 0; k < 4; ++k) {
            const S& t = strings[k];
            ASSERT_EQ(R(t.GetText(), t.GetLength()), refs[k]) << "string " << k << " after " << trace.str();
            ASSERT_EQ(t.GetText()[t.GetLength()], 0) << trace.str();
            if constexpr (!wide) { // a plain text ends at its first zero
                ASSERT_EQ(t == refs[j].c_str(), refs[k] == R(refs[j].c_str())) << "string " << k << " after " << trace.str();
            }
            ASSERT_TRUE(t.SharesBufferWith(S()) || t.GetCapacity() >= 16 + (t.GetLength() + 1) * sizeof(C)) << trace.str();
        }
    }
}

// The narrow string has the buffer edits alone, so half as many seeds do. Once a sequence's
// strings are gone, every buffer they took is back in its pool or heap.
TEST(StringDifferential, WideAndNarrowMatchStdStrings)
{
    const std::vector<int64_t> before = StringMemoryHeld();
    for (uint64_t seed = 0; seed < SeedCount(400) && !testing::Test::HasFatalFailure(); ++seed) {
        RunStringSequence<CUnicodeString>(seed);
        if (seed % 2 == 0)
            RunStringSequence<CString>(seed);
        ASSERT_EQ(StringMemoryHeld(), before) << "buffers left behind by seed " << seed;
    }
}

TEST(UnicodeString, SubstParamFillsPlaceholders)
{
    const wchar_t* params[] = {L"A", L"B", nullptr};
    // clang-format off
    const struct { const wchar_t* text; int32_t count; const wchar_t* result; } cases[] = {
        {L"%0 and %1", 1, L"A and "}, {L"100%", 1, L"100%"}, {L"%x", 1, L"%x"}, {L"%%0", 1, L"%A"}, {L"%1%0", 2, L"BA"},
        {L"<%99999999999 end", 1, L"<%99999999999 end"}, {L"%2147483647", 1, L""}, {L"<%2%1>", 3, L"<B>"},
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
        {L"true", true, true}, {L"ON", true, true}, {L"1", true, true}, {L"off", true, false}, {L"No", true, false}, {L"0", true, false},
    };
    // clang-format on
    for (const auto& c : words) {
        bool out = !c.value; // a success must store
        EXPECT_EQ(CUnicodeString(c.text).ParseBool(out), c.ok) << c.text;
        EXPECT_EQ(out, c.ok ? c.value : !c.value) << c.text;
    }
    // A range error first: the numbers after it must not see it.
    // clang-format off
    const struct { const wchar_t* text; bool ok; int32_t value; } numbers[] = {
        {L"2147483648", false, 0}, {L"-2147483648", true, INT32_MIN}, {L"2147483647", true, INT32_MAX},
        {L"\x00A0+7\x3000", true, 7}, {L"42x", false, 0}, {L"-2147483649", false, 0}, {L"4 2", false, 0}, {L"", false, 0},
    };
    // clang-format on
    for (const auto& c : numbers) {
        int32_t out = -12345;
        EXPECT_EQ(CUnicodeString(c.text).ParseInt(out), c.ok) << c.text;
        EXPECT_EQ(out, c.ok ? c.value : -12345) << c.text;
    }
}

TEST(UnicodeString, ToMultiByteConvertsByCodePage)
{
    // clang-format off
    const struct { const wchar_t* text; int32_t length; uint32_t codePage; const char* bytes; } cases[] = {
        {L"\x00E9", 1, 65001, "\xC3\xA9"}, {L"abc", -1, 0, "abc"}, {L"abc", 0, 0, ""},
        {L"a\0b", 3, 65001, "a"},       // the length ends at the first zero byte
        {L"\x4E2D", 1, 65000, "+Ti0-"}, // refuses flags
    };
    // clang-format on
    for (const auto& c : cases) {
        const CString s = CUnicodeString::ToMultiByte(c.text, c.length, c.codePage);
        EXPECT_EQ(std::string(s.GetText(), s.GetLength()), c.bytes) << c.codePage;
    }
    EXPECT_TRUE(CUnicodeString().ToMultiByte(65001).SharesBufferWith(CString()));
    // A code page the platform refuses is its failure, with its code.
    CInternalError* error = Catch<CInternalError>([] { CUnicodeString(L"abc").ToMultiByte(12345); });
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->GetKind(), FailureKind::AssertLastError);
    EXPECT_NE(error->GetErrorCode(), 0u);
    delete error;
}

// What the differential does not reach: formatting, numbers, and broken contracts of the
// operations it leaves out, which leave the string as it was, raised or shown. An empty result is
// the empty buffer.
TEST(UnicodeString, EditsOutsideTheDifferential)
{
    // clang-format off
    const struct { const char* name; std::function<void(Str&)> edit; const wchar_t* result; const wchar_t* where; } cases[] = {
        {"Format from its own text", [](Str& s) { s.Format(L"<%s>", s.GetText()); }, L"<abcdef>", nullptr},
        {"Format of nothing", [](Str& s) { s.Format(L"%s", L""); }, L"", nullptr},
        {"SubstParam to nothing", [](Str& s) { s = Str(L"%3").SubstParam((const wchar_t* const*)nullptr, 0); }, L"", nullptr},
        {"made from null", [](Str& s) { s = Str(static_cast<const wchar_t*>(nullptr)); }, L"", nullptr},
        {"null compares as empty", [](Str& s) { s = Str().Compare(nullptr) == 0 ? Str() : s; }, L"", nullptr},
        {"FromInt", [](Str& s) { s.FromInt(-1, 16); }, L"ffffffff", nullptr},
        {"FromUInt, unsigned", [](Str& s) { s.FromUInt(UINT32_MAX, 10); }, L"4294967295", nullptr},
        {"FromInt, radix 2", [](Str& s) { s.FromInt(5, 2); }, L"101", nullptr},
        {"FromUInt, radix 2", [](Str& s) { s.FromUInt(5, 2); }, L"101", nullptr},
        {"FromInt, radix 36", [](Str& s) { s.FromInt(35, 36); }, L"z", nullptr},
        {"FromUInt, radix 36", [](Str& s) { s.FromUInt(35, 36); }, L"z", nullptr},
        {"Append past its own end", [](Str& s) { s.Append(s.GetText() + 4, 3); }, nullptr, L"Src/UnicodeString"},
        {"Insert past its own end", [](Str& s) { s.Insert(s.GetText() + 4, 3, 0); }, nullptr, L"Src/UnicodeString"},
        {"a resource of 200 units", [](Str& s) { Str t; t.LoadFromResource(GetModuleHandleW(nullptr), 100); s.FromInt(t.GetLength(), 10); }, L"200", nullptr},
        {"a resource of 600 units", [](Str& s) { Str t; t.LoadFromResource(GetModuleHandleW(nullptr), 102); s.FromInt(t.GetLength(), 10); }, L"600", nullptr},
        {"ReleaseBuffer of the empty text", [](Str& s) { s = Str(); s.ReleaseBuffer(0); }, L"", nullptr},
        {"Empty keeps the room only of a sole holder", [](Str& s) { const bool sole = s.GetReferenceCount() == 1; s.Empty(); s.FromInt(sole != s.SharesBufferWith(Str()), 10); }, L"1", nullptr},
        {"a long text grows by a fifth", [](Str& s) { for (int i = 0; i < 200; ++i) s.Append(L"abcde", 5); s.FromInt(s.GetCapacity() < 2600, 10); }, L"1", nullptr},
        {"ReleaseBuffer beyond the room", [](Str& s) { s.ReleaseBuffer(int32_t((s.GetCapacity() - 16) / 2)); }, nullptr, L"Src/UnicodeString"},
        {"Format null", [](Str& s) { s.Format(nullptr); }, nullptr, L"Src/UnicodeString"},
        {"FromInt radix 1", [](Str& s) { s.FromInt(3, 1); }, nullptr, L"Src/UnicodeString"},
        {"FromUInt radix 37", [](Str& s) { s.FromUInt(3, 37); }, nullptr, L"Src/UnicodeString"},
        {"LoadFromResource null", [](Str& s) { s.LoadFromResource(nullptr, 1); }, nullptr, L"Src/UnicodeString"},
        {"index of the terminator", [](Str& s) { s = s[6] == L'\0' ? Str() : s; }, L"", nullptr},
        {"index past the end", [](Str& s) { s = s[7] == L'\0' ? s : Str(); }, nullptr, L"Inc/UnicodeString"},
        {"Find from before the start finds nothing", [](Str& s) { s = s.Find(L'a', -1) == -1 ? s : Str(); }, nullptr, L"Src/UnicodeString"},
        {"Find of a text from before the start finds nothing", [](Str& s) { s = s.Find(L"a", -1) == -1 ? s : Str(); }, nullptr, L"Src/UnicodeString"},
        {"SubstParam null array", [](Str& s) { s.SubstParam((const wchar_t* const*)nullptr, 1); }, nullptr, L"Src/UnicodeString"},
        {"narrow: Append past its own end", [](Str&) { CString n("abcdef"); n.Append(n.GetText() + 4, 3); }, nullptr, L"Src/String"},
        {"GetBuffer of negative room", [](Str& s) { s.GetBuffer(-1); }, nullptr, L"Src/UnicodeString"},
        {"narrow: ReleaseBuffer of the empty text", [](Str&) { CString().ReleaseBuffer(1); }, nullptr, L"Src/String"},
    };
    // clang-format on
    for (bool shared : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (shared ? ", shared" : ", sole holder"));
            const Str original = L"abcdef";
            Str s = shared ? original : Str(original.GetText());
            if (c.result != nullptr) {
                c.edit(s);
            } else if (CInternalError* error = Catch<CInternalError>([&] { c.edit(s); })) {
                EXPECT_STREQ(error->GetSourceFile(), c.where);
                delete error;
                EXPECT_EQ(ShownWhenSuppressed([&] { c.edit(s); }), 1u); // shown instead, it changes nothing either
            }
            EXPECT_EQ(W(s), c.result ? c.result : L"abcdef");
            EXPECT_EQ(s.SharesBufferWith(Str()), s.IsEmpty());
            EXPECT_EQ(W(original), L"abcdef");
        }
    }
}

} // namespace
