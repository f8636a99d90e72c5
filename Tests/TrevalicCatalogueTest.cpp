// The catalogue's pieces inside one process: JSON values, provider types and redirect settings.
#include <windows.h>
#include <oleauto.h>

#include "AtomicBlockManagerProbe.h"
#include "Errors.h"
#include "JsonTools.h"
#include "ProviderEntry.h"
#include "RedirectSettings.h"
#include "TestSupport.h"

extern "C" bool GetProvidersList(int32_t providerType, wchar_t* buffer, size_t* length);
extern "C" BSTR GetTrevalicListJson();

using namespace Zelkor;
using namespace Trevalic;

// Separators, quotes, expiry instants and escapes of the records that ship show whole in the
// exported document (TrevalicExport, with its odd redirect URL) and each unit's escape below;
// here, what no shipped record has: empty lists and an escaped secret value.
TEST(TrevalicJsonTools, RendersEmptyListsAndEscapedSecrets)
{
    CArray<ClientSecret> secrets;
    EXPECT_EQ(W(SecretsToJson(secrets)), L"[]");
    EXPECT_EQ(W(ParametersToJson(ParameterMap())), L"{}");
    secrets.Add(ClientSecret{CUnicodeString(L"a\"b"), NeverExpires});
    EXPECT_EQ(W(SecretsToJson(secrets)), L"[{ \"Value\": \"a\\\"b\",\"Expiration\": null }]");
    EXPECT_EQ(W(QuoteJsonText(L"a\"b")) + W(FormatJsonTime(NeverExpires)) + W(FormatJsonTime(0)),
              L"\"a\\\"b\"null\"1601-01-01T00:00:00Z\"");
}

// All 65536 units, each escaped exactly as documented: seven units by a letter or themselves
// after a backslash, the rest of printable ASCII as itself, every other unit (each half of a
// pair on its own) as \u and four lowercase hexadecimal digits.
TEST(TrevalicJsonTools, EveryUnitEscapesAsDocumented)
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

// Out of memory at any allocation of a render, both exports of the whole document raise the
// memory exception and keep nothing; with memory enough they give the document.
TEST(TrevalicCatalogue, ExportsThatRunOutOfMemoryKeepNothing)
{
    CHeapManager heap(0, true); // the containers', which takes part in failure injection
    CMemoryManagerSwitcher useHeap(&heap);
    const CUnicodeString expected = ProviderListToJson(0);
    std::vector<wchar_t> text(size_t(expected.GetLength()) + 1);
    for (int64_t failAt = 1; failAt < 10000 && !HasFailure(); ++failAt) {
        const std::vector<int64_t> held = MemoryHeld(heap);
        size_t count = text.size();
        BSTR json = nullptr;
        const CFailingAllocation failure(failAt);
        const uint32_t error = ErrorOf([&] { GetProvidersList(0, text.data(), &count), json = GetTrevalicListJson(); });
        if (!failure.Reached()) {
            EXPECT_EQ(std::wstring(text.data()) + json, W(expected) + W(expected));
            SysFreeString(json);
            break;
        }
        EXPECT_EQ(std::make_pair(error, MemoryHeld(heap)), std::make_pair(0xDEADu, held)) << "allocation " << failAt << " failed";
    }
}

// The document names every kind it renders (TrevalicExport); the end value has no name, and is
// reported at its documented place, spelled out so that the table of sites cannot drift.
TEST(TrevalicCatalogue, ProviderTypeWithoutNameIsReported)
{
    EXPECT_TRUE(ReportsAt(CCheckSite{L"Inc/EnumClassItem", 48}, [] { FindEnumName(ProviderTypeNames, ProviderType::ProviderTypeCount); }));
}

// Each value as stored, without a terminator added, and what the reader makes of it (a port as
// its decimal text), read against a key of the test's own under the current user. A terminated
// REG_SZ, also an empty one, and REG_DWORD ports show in TrevalicExportRegistry.
TEST(TrevalicRedirectRegistry, UrlAndPort)
{
    const CScratchKey scratch{L"TrevalicCatalogueTest"};
    const std::wstring long512(512, L'u'), url = DefaultRedirectUrl, port = L"32023";
    const struct {
        const char* what;
        const wchar_t* value;
        DWORD type; // REG_NONE: no settings key at all
        std::wstring data, expected;
        DWORD shorter = 0; // bytes left out of the end of data
    } rows[] = {
        {"no key", L"RedirectUrl", REG_NONE, L"", url},
        {"REG_SZ without terminator", L"RedirectUrl", REG_SZ, L"ABC", L"ABC"},
        {"zero bytes", L"RedirectUrl", REG_SZ, L"", L""},
        {"embedded NUL", L"RedirectUrl", REG_SZ, std::wstring(L"AB\0CD\0", 6), L"AB"},
        {"1024 bytes, no terminator", L"RedirectUrl", REG_SZ, long512, long512},
        {"1025 bytes", L"RedirectUrl", REG_SZ, long512 + std::wstring(1, L'\0'), url, 1},
        {"REG_EXPAND_SZ", L"RedirectUrl", REG_EXPAND_SZ, std::wstring(L"%SystemRoot%\\x", 15), url},
        {"no key", L"RedirectPort", REG_NONE, L"", port},
        {"REG_DWORD of two bytes", L"RedirectPort", REG_DWORD, L"\x1f90", port},
        {"REG_QWORD", L"RedirectPort", REG_QWORD, std::wstring(L"\x1f90\0\0\0", 4), port},
        {"REG_DWORD_BIG_ENDIAN", L"RedirectPort", REG_DWORD_BIG_ENDIAN, std::wstring(L"\0\x901f", 2), port},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.what << " as " << testing::PrintToString(std::wstring(row.value)));
        RegDeleteTreeW(scratch.key, RedirectSettingsKey);
        // The registry appends a terminator by itself when the unit after string data is NUL.
        const std::wstring data = row.data + L'X';
        const DWORD size = static_cast<DWORD>(row.data.size() * sizeof(wchar_t)) - row.shorter;
        if (row.type != REG_NONE) {
            ASSERT_EQ(RegSetKeyValueW(scratch.key, RedirectSettingsKey, row.value, row.type, data.data(), size), ERROR_SUCCESS);
        }
        const bool isPort = std::wstring(row.value) == L"RedirectPort";
        EXPECT_EQ(isPort ? std::to_wstring(RedirectSettingsInternal::ReadRedirectPort(scratch.key))
                         : W(RedirectSettingsInternal::ReadRedirectUrl(scratch.key)),
                  row.expected);
    }
}
