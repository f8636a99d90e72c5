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

const auto IsSeparator = [](wchar_t c) { return c == L'\\' || c == L'/'; };

} // namespace

TEST(Fuzz, PathFunctions)
{
    const std::vector<const wchar_t*> pieces = {
        L"\\", L"/", L":", L"?", L".", L" ", L"a", L"b", L"C", L"x.y", L"\\\\?\\", L"\\\\?\\UNC\\", L"Volume{7}", L"GLOBALROOT", L"\\\\"};
    Fuzz([&](Random& random) {
        const CUnicodeString path(Pieces(random, pieces, 10).c_str()), tail(Pieces(random, pieces, 4).c_str());
        const std::wstring text = W(path);
        SCOPED_TRACE(testing::Message() << "path " << testing::PrintToString(text) << ", tail " << testing::PrintToString(W(tail)));
        CArray<CUnicodeString> components;
        SplitPath(path, components);
        for (int32_t i = 0; i < components.GetSize(); ++i)
            ASSERT_TRUE(!components[i].IsEmpty() && W(components[i]).find_first_of(L"\\/") == std::wstring::npos)
                << "component " << i << ": " << testing::PrintToString(W(components[i]));

        CUnicodeString parent = path;
        if (RemoveLastPathComponent(parent))
            EXPECT_TRUE(parent.GetLength() < path.GetLength() && text.starts_with(W(parent)));
        else
            EXPECT_EQ(parent, path);

        // None of these may raise; the root of a long-prefixed name keeps its prefix (a separator
        // right after the prefix names nothing, and its root is whatever the rest gives).
        const CUnicodeString root = GetRoot(path);
        if (text.starts_with(L"\\\\?\\") && path.GetLength() > 4 && !IsSeparator(path[4]) && root.GetLength() > 1) {
            EXPECT_TRUE(HasLongPrefix(root)) << testing::PrintToString(W(root));
        }
        JoinPath(path, tail);
        ExtractPath(path);
        MergePath(path, tail);
        MakePath(ExtractDrive(path), ExtractDirectory(path), ExtractName(path), ExtractExtension(path));
    });
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
