// Random paths against the invariants of the path functions, and every UTF-16 unit through the
// JSON escape. The fuzz loop runs for about two seconds from a fixed seed (ZELKOR_FUZZ_SEED
// overrides it); a failure names the seed that reproduces it as the first round. What it found
// stays as a fixed row of PathNames (a doubled long prefix, for one).
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

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

std::wstring Std(const CUnicodeString& text)
{
    return std::wstring(text.GetText(), text.GetLength());
}

} // namespace

TEST(Fuzz, PathFunctions)
{
    const std::vector<const wchar_t*> pieces = {
        L"\\", L"/", L":", L"?", L".", L" ", L"a", L"b", L"C", L"x.y", L"\\\\?\\", L"\\\\?\\UNC\\", L"Volume{7}", L"GLOBALROOT", L"\\\\"};
    Fuzz([&](Random& random) {
        const CUnicodeString path(Pieces(random, pieces, 10).c_str()), tail(Pieces(random, pieces, 4).c_str());
        const std::wstring text = Std(path);
        SCOPED_TRACE(testing::Message() << "path " << testing::PrintToString(text) << ", tail " << testing::PrintToString(Std(tail)));
        CArray<CUnicodeString> components;
        SplitPath(path, components);
        for (int32_t i = 0; i < components.GetSize(); ++i)
            ASSERT_TRUE(!components[i].IsEmpty() && Std(components[i]).find_first_of(L"\\/") == std::wstring::npos)
                << "component " << i << ": " << testing::PrintToString(Std(components[i]));

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
        JoinPath(path, tail);
        ExtractPath(path);
        MergePath(path, tail);
        MakePath(ExtractDrive(path), ExtractDirectory(path), ExtractName(path), ExtractExtension(path));
    });
}

// Not random: all 65536 units. Each escapes to printable ASCII that decodes to the unit; a lone
// half only parses next to its partner, so each high half is paired with a low one and the pair
// must decode to exactly those two units.
TEST(Fuzz, JsonEscapeOfEveryUnitDecodesToThatUnit)
{
    auto decode = [](const std::wstring& escaped) {
        const std::string quoted = std::string(1, '"').append(escaped.begin(), escaped.end()).append(1, '"');
        const std::string utf8 = nlohmann::json::parse(quoted).get<std::string>();
        std::wstring units(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), units.data(), int(units.size()));
        return units;
    };
    auto escape = [](wchar_t unit) { return Std(EscapeJsonText(CUnicodeString(&unit, 1))); };
    for (uint32_t unit = 0; unit < 0x10000; ++unit) {
        const std::wstring escaped = escape(wchar_t(unit));
        ASSERT_TRUE(std::all_of(escaped.begin(), escaped.end(), [](wchar_t c) { return c >= 0x20 && c < 0x7F; })) << unit;
        if (unit < 0xD800 || unit > 0xDFFF) {
            ASSERT_EQ(decode(escaped), std::wstring(1, wchar_t(unit))) << unit;
        } else if (unit < 0xDC00) {
            const wchar_t low = wchar_t(0xDC00 + (unit * 7 & 0x3FF));
            ASSERT_EQ(decode(escaped + escape(low)), (std::wstring{wchar_t(unit), low})) << unit;
        }
    }
}
