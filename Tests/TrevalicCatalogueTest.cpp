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
#include "Time.h"

using namespace Zelkor;
using namespace Trevalic;

// Each unit alone is FuzzTest's; here units side by side, and the quotes around them.
TEST(TrevalicJsonTools, EscapesAndQuotesAText)
{
    const CUnicodeString text(L"a\"b\\c\x01/d\xd83d\xde00");
    EXPECT_EQ(W(EscapeJsonText(text)), L"a\\\"b\\\\c\\u0001/d\\ud83d\\ude00");
    EXPECT_EQ(W(QuoteJsonText(text)), L"\"a\\\"b\\\\c\\u0001/d\\ud83d\\ude00\"");
    EXPECT_EQ(W(QuoteJsonText(CUnicodeString())), L"\"\"");
}

// Expiry instants in UTC to the second, null when the secret never expires. Full records, and
// parameters in slot order, show in the exported document (TrevalicExport).
TEST(TrevalicJsonTools, RendersSecretArraysAndParameterObjects)
{
    SYSTEMTIME calendar{2027, 8, 4, 26, 22, 0, 0, 999};
    FILETIME time;
    ASSERT_TRUE(SystemTimeToFileTime(&calendar, &time));
    CArray<ClientSecret> secrets;
    EXPECT_EQ(W(SecretsToJson(secrets)), L"[]");
    secrets.Add(ClientSecret{CUnicodeString(L"a\"b"), NeverExpires});
    secrets.Add(ClientSecret{CUnicodeString(L""), FileTimeToValue(time)});
    EXPECT_EQ(W(SecretsToJson(secrets)),
              L"[{ \"Value\": \"a\\\"b\",\"Expiration\": null },"
              L"{ \"Value\": \"\",\"Expiration\": \"2027-08-26T22:00:00Z\" }]");
    EXPECT_EQ(W(ParametersToJson(ParameterMap())), L"{}");
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
    void SetUp() override
    {
        // CTest runs the tests of this fixture at once, in processes of their own: each takes a
        // key of its own, or one would delete the key the other writes.
        path = L"Software\\TrevalicCatalogueTest-" + std::to_wstring(GetCurrentProcessId());
        RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr), ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegCloseKey(root);
        RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    }
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
    std::wstring path;
    HKEY root = nullptr;
};

TEST_F(TrevalicRedirectRegistry, Url)
{
    const std::wstring long512(512, L'u');
    struct Row {
        const char* what;
        DWORD type;
        std::wstring data; // stored as is, without adding a terminator
        std::wstring expected;
    } rows[] = {
        // A terminated REG_SZ, also an empty one, and REG_DWORD ports show in TrevalicExportRegistry.
        {"no key", REG_NONE, L"", DefaultRedirectUrl},
        {"REG_SZ without terminator", REG_SZ, L"ABC", L"ABC"},
        {"zero bytes", REG_SZ, L"", L""},
        {"embedded NUL", REG_SZ, std::wstring(L"AB\0CD\0", 6), L"AB"},
        {"1024 bytes, no terminator", REG_SZ, long512, long512},
        {"1026 bytes", REG_SZ, long512 + std::wstring(1, L'\0'), DefaultRedirectUrl},
        {"REG_EXPAND_SZ", REG_EXPAND_SZ, std::wstring(L"%SystemRoot%\\x", 15), DefaultRedirectUrl},
        {"REG_MULTI_SZ", REG_MULTI_SZ, std::wstring(L"one\0two\0\0", 9), DefaultRedirectUrl},
        {"REG_DWORD", REG_DWORD, L"AB", DefaultRedirectUrl},
    };
    for (const Row& row : rows) {
        Store(L"RedirectUrl", row.type, row.data.data(), static_cast<DWORD>(row.data.size() * sizeof(wchar_t)));
        EXPECT_EQ(W(RedirectSettingsInternal::ReadRedirectUrl(root)), row.expected) << row.what;
    }
}

TEST_F(TrevalicRedirectRegistry, Port)
{
    struct Row {
        const char* what;
        DWORD type;
        std::vector<BYTE> data;
        uint32_t expected;
    } rows[] = {
        {"no key", REG_NONE, {}, 32023},
        {"REG_DWORD", REG_DWORD, {0x90, 0x1f, 0, 0}, 8080},
        {"REG_SZ of four bytes", REG_SZ, {'1', 0, 0, 0}, 32023},
        {"REG_DWORD of two bytes", REG_DWORD, {0x90, 0x1f}, 32023},
        {"REG_QWORD", REG_QWORD, {0x90, 0x1f, 0, 0, 0, 0, 0, 0}, 32023},
        {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN, {0, 0, 0x1f, 0x90}, 32023},
        {"REG_BINARY", REG_BINARY, {0x90, 0x1f, 0, 0}, 32023},
    };
    for (const Row& row : rows) {
        Store(L"RedirectPort", row.type, row.data.data(), static_cast<DWORD>(row.data.size()));
        EXPECT_EQ(RedirectSettingsInternal::ReadRedirectPort(root), row.expected) << row.what;
    }
}
