// Random paths against the invariants of the path functions, and every UTF-16 unit through the
// JSON escape. The fuzz loop runs for about two seconds from a fixed seed (ZELKOR_FUZZ_SEED
// overrides it); a failure names the seed that reproduces it as the first round. What it found
// stays as a fixed row of PathNames (a doubled long prefix, for one).
#include <windows.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FileSystem.h"
#include "JsonTools.h"
#include "TestSupport.h"
#include "UnicodeString.h"

using namespace Zelkor;
using namespace Trevalic;

// Round i is seeded by seed + i; the rounds go on until two seconds have passed or one fails.
TEST(Fuzz, PathFunctions)
{
    const std::vector<const wchar_t*> pieces = {
        L"\\", L"/", L":", L"?", L".", L" ", L"a", L"b", L"C", L"x.y", L"\\\\?\\", L"\\\\?\\UNC\\", L"Volume{7}", L"GLOBALROOT", L"\\\\"};
    const char* seedText = std::getenv("ZELKOR_FUZZ_SEED");
    const uint64_t seed = seedText ? std::strtoull(seedText, nullptr, 0) : 20261206;
    for (uint64_t i = 0, end = GetTickCount64() + 2000; GetTickCount64() < end && !HasFailure(); ++i) {
        std::mt19937_64 random(seed + i);
        // A text of up to maxCount random pieces.
        const auto pieced = [&](int maxCount) {
            std::wstring result;
            for (int n = int(random() % (maxCount + 1)); n > 0; --n)
                result += pieces[random() % pieces.size()];
            return CUnicodeString(result.c_str());
        };
        const CUnicodeString path = pieced(10), tail = pieced(4);
        const std::wstring text = W(path);
        SCOPED_TRACE(testing::Message() << "reproduce with ZELKOR_FUZZ_SEED=" << seed + i << ": path " << testing::PrintToString(text)
                                        << ", tail " << testing::PrintToString(W(tail)));
        // None of the functions may raise.
        const auto round = [&] {
            CArray<CUnicodeString> components;
            SplitPath(path, components);
            for (int32_t c = 0; c < components.GetSize(); ++c) {
                ASSERT_FALSE(components[c].IsEmpty()) << "component " << c;
                ASSERT_EQ(W(components[c]).find_first_of(L"\\/"), std::wstring::npos)
                    << "component " << c << ": " << testing::PrintToString(W(components[c]));
            }

            CUnicodeString parent = path;
            if (RemoveLastPathComponent(parent)) {
                EXPECT_LT(parent.GetLength(), path.GetLength());
                EXPECT_TRUE(text.starts_with(W(parent))) << testing::PrintToString(W(parent));
            } else {
                EXPECT_EQ(parent, path);
            }

            // The root of a long-prefixed name keeps its prefix (a separator right after the prefix
            // names nothing, and its root is whatever the rest gives).
            const CUnicodeString root = GetRoot(path);
            if (text.starts_with(L"\\\\?\\") && path.GetLength() > 4 && path[4] != L'\\' && path[4] != L'/' && root.GetLength() > 1) {
                EXPECT_TRUE(HasLongPrefix(root)) << testing::PrintToString(W(root));
            }
            JoinPath(path, tail);
            ExtractPath(path);
            MergePath(path, tail);
            MakePath(ExtractDrive(path), ExtractDirectory(path), ExtractName(path), ExtractExtension(path));
        };
        EXPECT_FALSE(RaisesInternalError(round));
    }
}

// Not random: all 65536 units, each escaped exactly as documented: seven units by a letter or
// themselves after a backslash, the rest of printable ASCII as itself, every other unit (each
// half of a pair on its own) as \u and four lowercase hexadecimal digits.
TEST(Fuzz, JsonEscapeOfEveryUnitIsTheDocumentedOne)
{
    const std::pair<wchar_t, const wchar_t*> named[] = {{L'"', L"\\\""}, {L'\\', L"\\\\"}, {L'\b', L"\\b"}, {L'\f', L"\\f"},
                                                        {L'\n', L"\\n"}, {L'\r', L"\\r"},  {L'\t', L"\\t"}};
    for (uint32_t unit = 0; unit < 0x10000; ++unit) {
        wchar_t hex[8];
        swprintf(hex, 8, L"\\u%04x", unit);
        std::wstring expected = unit >= 0x20 && unit <= 0x7E ? std::wstring(1, wchar_t(unit)) : hex;
        for (const auto& [c, escape] : named)
            if (c == unit)
                expected = escape;
        const wchar_t text = wchar_t(unit);
        ASSERT_EQ(W(EscapeJsonText(CUnicodeString(&text, 1))), expected) << unit;
    }
}
