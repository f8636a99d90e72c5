// Random inputs against invariants. Each fuzz loop runs for about two seconds from a fixed seed
// (ZELKOR_FUZZ_SEED overrides it); a failure names the seed that reproduces it as the first round.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "FileSystem.h"
#include "JsonTools.h"
#include "UnicodeString.h"

using namespace Zelkor;
using namespace Trevalic;

namespace {

using Random = std::mt19937_64;

// Runs round(random) with round i seeded by seed + i, until two seconds have passed.
template <class Round>
void Fuzz(Round round)
{
    const char* text = std::getenv("ZELKOR_FUZZ_SEED");
    const uint64_t seed = text ? std::strtoull(text, nullptr, 0) : 20261206;
    for (uint64_t i = 0, end = GetTickCount64() + 2000; GetTickCount64() < end; ++i) {
        Random random(seed + i);
        try {
            round(random);
        } catch (CException* exception) {
            const auto* error = dynamic_cast<CInternalError*>(exception);
            ADD_FAILURE() << "exception " << (error ? error->GetSourceFile() : L"(not an internal error)") << ", line "
                          << (error ? error->GetLine() : 0);
            delete exception;
        }
        if (testing::Test::HasFailure()) {
            ADD_FAILURE() << "reproduce with ZELKOR_FUZZ_SEED=" << seed + i;
            return;
        }
    }
}

// A text of up to maxCount random pieces.
std::wstring Pieces(Random& random, const std::vector<const wchar_t*>& pieces, int maxCount)
{
    std::wstring text;
    for (int n = int(random() % (maxCount + 1)); n > 0; --n)
        text += pieces[random() % pieces.size()];
    return text;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring Std(const CUnicodeString& text) { return std::wstring(text.GetText(), text.GetLength()); }

} // namespace

TEST(Fuzz, PathFunctions)
{
    const std::vector<const wchar_t*> pieces = {L"\\", L"/", L":", L"?", L".", L" ", L"a", L"b", L"C", L"x.y",
                                                L"\\\\?\\", L"\\\\?\\UNC\\", L"Volume{7}", L"GLOBALROOT", L"\\\\"};
    Fuzz([&](Random& random) {
        const CUnicodeString path(Pieces(random, pieces, 10).c_str()), tail(Pieces(random, pieces, 4).c_str());
        const std::wstring text = Std(path), rest = Std(tail);
        SCOPED_TRACE(testing::Message() << "path " << testing::PrintToString(text) << ", tail " << testing::PrintToString(rest));
        CArray<CUnicodeString> components;
        SplitPath(path, components);
        for (int32_t i = 0; i < components.GetSize(); ++i)
            ASSERT_TRUE(!components[i].IsEmpty() && Std(components[i]).find_first_of(L"\\/") == std::wstring::npos)
                << "component " << i << ": " << testing::PrintToString(Std(components[i]));

        // One separator at the joint: the path without one trailing, the tail without one leading.
        const std::wstring joined = Std(JoinPath(path, tail));
        const size_t base = text.size() - (!text.empty() && IsSeparator(text.back()));
        const size_t restStart = !rest.empty() && IsSeparator(rest.front());
        if (path.IsEmpty())
            EXPECT_EQ(joined, rest);
        else
            EXPECT_TRUE(joined.size() == base + 1 + rest.size() - restStart && joined.compare(0, base, text, 0, base) == 0 &&
                        IsSeparator(joined[base]) && joined.compare(base + 1, std::wstring::npos, rest, restStart) == 0)
                << testing::PrintToString(joined);

        CUnicodeString parent = path;
        if (RemoveLastPathComponent(parent))
            EXPECT_TRUE(parent.GetLength() < path.GetLength() && text.starts_with(Std(parent)));
        else
            EXPECT_EQ(parent, path);

        // None of these may raise; the root of a long-prefixed name keeps its prefix (a separator
        // right after the prefix names nothing, and its root is whatever the rest gives).
        const CUnicodeString root = GetRoot(path);
        if (text.starts_with(L"\\\\?\\") && path.GetLength() > 4 && !IsSeparator(path[4]) && root.GetLength() > 1) {
            EXPECT_TRUE(HasLongPrefix(root)) << testing::PrintToString(Std(root));
        }
        ExtractPath(path);
        MergePath(path, tail);
        MakePath(ExtractDrive(path), ExtractDirectory(path), ExtractName(path), ExtractExtension(path));

        // Only shares and absolute paths take the prefix; anything else is the documented violation.
        CUnicodeString prefixed = path;
        const PathKind kind = GetPathKind(path);
        const bool accepted = HasLongPrefix(path) || kind == PK_Unc || kind == PK_Absolute;
        try {
            AddLongPrefix(prefixed);
            EXPECT_TRUE(accepted) << "a path of kind " << kind << " took the long prefix";
        } catch (CInternalError* error) {
            EXPECT_FALSE(accepted) << "kind " << kind;
            delete error;
        }
    });
}

TEST(Fuzz, JsonEscapingDecodesToTheSameUnits)
{
    // Every unit on its own: a lone half only parses next to its partner, so each high half is
    // paired with a low one and the pair must decode to exactly those two units.
    auto decode = [](const std::wstring& escaped) {
        const std::string quoted = std::string(1, '"').append(escaped.begin(), escaped.end()).append(1, '"');
        const std::string utf8 = nlohmann::json::parse(quoted).get<std::string>();
        std::wstring units(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), units.data(), int(units.size()));
        return units;
    };
    auto escape = [](const std::wstring& text) { return Std(EscapeJsonText(CUnicodeString(text.c_str(), int32_t(text.size())))); };
    std::vector<std::wstring> unitEscapes(0x10000);
    for (uint32_t unit = 1; unit < 0x10000; ++unit) {
        std::wstring& escaped = unitEscapes[unit] = escape(std::wstring(1, wchar_t(unit)));
        ASSERT_TRUE(std::all_of(escaped.begin(), escaped.end(), [](wchar_t c) { return c >= 0x20 && c < 0x7F; })) << unit;
        if (unit < 0xD800 || unit > 0xDFFF) {
            ASSERT_EQ(decode(escaped), std::wstring(1, wchar_t(unit))) << unit;
        }
    }
    for (uint32_t high = 0xD800; high < 0xDC00; ++high) {
        const uint32_t low = 0xDC00 + (high * 7 & 0x3FF);
        ASSERT_EQ(decode(unitEscapes[high] + unitEscapes[low]), (std::wstring{wchar_t(high), wchar_t(low)})) << high;
    }
    // Whole texts: the escape is the escapes of the units in turn, and it parses back whole.
    Fuzz([&](Random& random) {
        std::wstring text(random() % 40, L'\0'), expected;
        for (wchar_t& unit : text) {
            const uint64_t draw = random();
            unit = wchar_t(draw % 4 == 0 ? 0xD800 + (draw >> 8) % 0x800 : draw % 4 == 1 ? (draw >> 8) % 0x80 : 1 + (draw >> 8) % 0xFFFF);
            if (unit == 0)
                unit = L'"';
            expected += unitEscapes[unit];
        }
        const std::wstring escaped = escape(text);
        ASSERT_EQ(escaped, expected) << testing::PrintToString(text);
        bool paired = true;
        for (size_t i = 0; i < text.size(); ++i) {
            if (IS_HIGH_SURROGATE(text[i]) && i + 1 < text.size() && IS_LOW_SURROGATE(text[i + 1]))
                ++i;
            else if (text[i] >= 0xD800 && text[i] <= 0xDFFF)
                paired = false;
        }
        if (paired) {
            ASSERT_EQ(decode(escaped), text);
        }
    });
}

TEST(Fuzz, ParsingAndSubstitution)
{
    const std::vector<const wchar_t*> pieces = {L"0", L"7", L"12", L"2147483647", L"2147483648", L"-", L"+", L" ", L"\t",
                                                L"\x00A0", L"\x3000", L"%", L"%1", L"%0", L"%%", L"x", L"TrUe", L"off",
                                                L"yes", L"No", L"1", L"\xD800"};
    static const wchar_t* const params[] = {L"\x2603", L"\x2603", L"\x2603"};
    Fuzz([&](Random& random) {
        const CUnicodeString text(Pieces(random, pieces, 6).c_str());
        const std::wstring source = Std(text);
        SCOPED_TRACE(testing::PrintToString(source));
        // A number parsed prints back to itself; a failed parse, of either kind, stores nothing.
        int32_t number = -99;
        if (text.ParseInt(number)) {
            CUnicodeString again;
            again.FromInt(number);
            int32_t back = 0;
            EXPECT_TRUE(again.ParseInt(back) && back == number) << number;
        } else {
            EXPECT_EQ(number, -99) << "a failed parse stored its output";
        }
        bool flag = true;
        EXPECT_TRUE(text.ParseBool(flag) || flag) << "a failed parse stored its output";
        const int32_t value = int32_t(random());
        CUnicodeString written;
        written.FromInt(value);
        EXPECT_TRUE((L" " + written + L"\t").ParseInt(number) && number == value) << value;

        // Only placeholders (a '%' and its digits) may vanish, and each fills at most one parameter.
        const std::wstring result = Std(text.SubstParam(params, int32_t(random() % 4)));
        auto kept = [](std::wstring s) {
            std::erase_if(s, [](wchar_t c) { return c == L'%' || (c >= L'0' && c <= L'9') || c == 0x2603; });
            return s;
        };
        EXPECT_EQ(kept(result), kept(source)) << testing::PrintToString(result);
        EXPECT_LE(std::count(result.begin(), result.end(), 0x2603), std::count(source.begin(), source.end(), L'%'));
    });
}
