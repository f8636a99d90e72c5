// The catalogue's pieces inside one process: JSON values, records, redirect settings.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Errors.h"
#include "JsonTools.h"
#include "ProviderEntry.h"
#include "RedirectSettings.h"
#include "TestSupport.h"

using namespace Zelkor;
using namespace Trevalic;

// Separators, quotes, expiry instants and escapes of the records that ship show whole in the
// exported document (TrevalicExport, with its odd redirect URL) and each unit's escape in
// FuzzTest; here, what no shipped record has: empty lists and an escaped secret value.
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

// The document names every kind it renders (TrevalicExport); the end value has no name, and is
// reported at its documented place, spelled out so that the table of sites cannot drift.
TEST(TrevalicCatalogue, ProviderTypeWithoutNameIsReported)
{
    EXPECT_TRUE(ReportsAt(CCheckSite{L"Inc/EnumClassItem", 48}, [] { FindEnumName(ProviderTypeNames, ProviderType::ProviderTypeCount); }));
}

// The registry reads against a key of the test's own under the current user.
class TrevalicRedirectRegistry : public testing::Test {
protected:
    // The settings key holding exactly the given bytes; none at all for REG_NONE. RegSetValueExW
    // appends a terminator by itself when the unit after string data is NUL, so a non-NUL
    // sentinel follows the data.
    void Store(const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        RegDeleteTreeW(root, RedirectSettingsKey);
        if (type == REG_NONE)
            return;
        HKEY settings;
        ASSERT_EQ(RegCreateKeyExW(root, RedirectSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &settings, nullptr), ERROR_SUCCESS);
        std::vector<BYTE> bytes(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
        bytes.insert(bytes.end(), {'X', 'X'});
        const LONG set = RegSetValueExW(settings, name, 0, type, bytes.data(), size);
        DWORD stored = 0;
        RegQueryValueExW(settings, name, nullptr, nullptr, nullptr, &stored);
        RegCloseKey(settings);
        ASSERT_TRUE(set == ERROR_SUCCESS && stored == size) << "stored " << stored << " of " << size << " bytes";
    }
    CScratchKey scratch{L"TrevalicCatalogueTest"};
    const HKEY root = scratch.key;
};

// Each value as stored, without a terminator added, and what the reader makes of it (a port as
// its decimal text). A terminated REG_SZ, also an empty one, and REG_DWORD ports in range show
// in TrevalicExportRegistry.
TEST_F(TrevalicRedirectRegistry, UrlAndPort)
{
    const std::wstring long512(512, L'u'), url = DefaultRedirectUrl, port = L"32023";
    const struct {
        const char* what;
        const wchar_t* value;
        DWORD type;
        std::wstring data;
        std::wstring expected;
        DWORD shorter = 0; // bytes left out of the end of data
    } rows[] = {
        {"no key", L"RedirectUrl", REG_NONE, L"", url},
        {"REG_SZ without terminator", L"RedirectUrl", REG_SZ, L"ABC", L"ABC"},
        {"zero bytes", L"RedirectUrl", REG_SZ, L"", L""},
        {"embedded NUL", L"RedirectUrl", REG_SZ, std::wstring(L"AB\0CD\0", 6), L"AB"},
        {"1024 bytes, no terminator", L"RedirectUrl", REG_SZ, long512, long512},
        {"1025 bytes", L"RedirectUrl", REG_SZ, long512 + std::wstring(1, L'\0'), url, 1},
        {"REG_EXPAND_SZ", L"RedirectUrl", REG_EXPAND_SZ, std::wstring(L"%SystemRoot%\\x", 15), url},
        {"REG_MULTI_SZ", L"RedirectUrl", REG_MULTI_SZ, std::wstring(L"one\0two\0\0", 9), url},
        {"REG_DWORD", L"RedirectUrl", REG_DWORD, L"AB", url},
        {"no key", L"RedirectPort", REG_NONE, L"", port},
        {"REG_DWORD", L"RedirectPort", REG_DWORD, std::wstring(L"\x1f90\0", 2), L"8080"},
        {"REG_SZ of four bytes", L"RedirectPort", REG_SZ, std::wstring(L"1\0", 2), port},
        {"REG_DWORD of two bytes", L"RedirectPort", REG_DWORD, L"\x1f90", port},
        {"REG_QWORD", L"RedirectPort", REG_QWORD, std::wstring(L"\x1f90\0\0\0", 4), port},
        {"REG_DWORD_BIG_ENDIAN", L"RedirectPort", REG_DWORD_BIG_ENDIAN, std::wstring(L"\0\x901f", 2), port},
        {"REG_BINARY", L"RedirectPort", REG_BINARY, std::wstring(L"\x1f90\0", 2), port},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.what << " as " << testing::PrintToString(std::wstring(row.value)));
        Store(row.value, row.type, row.data.data(), static_cast<DWORD>(row.data.size() * sizeof(wchar_t)) - row.shorter);
        const bool isPort = std::wstring(row.value) == L"RedirectPort";
        EXPECT_EQ(isPort ? std::to_wstring(RedirectSettingsInternal::ReadRedirectPort(root))
                         : W(RedirectSettingsInternal::ReadRedirectUrl(root)),
                  row.expected);
    }
}
