// The catalogue exports as the host sees them: Trevalic.dll loaded by LoadLibraryW.
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "TrevalicRegistrations.h"

namespace {

using GetProvidersListFn = bool (*)(int32_t, wchar_t*, size_t*);
using GetTrevalicListJsonFn = BSTR (*)();

constexpr DWORD Sentinel = 0xDEADBEEF;
constexpr wchar_t Canary = 0xCCCC;

class CTrevalicDll {
public:
    CTrevalicDll()
    {
        module = LoadLibraryW(L"Trevalic.dll");
        if (!module)
            return;
        getProvidersList = reinterpret_cast<GetProvidersListFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, "GetProvidersList")));
        getTrevalicListJson = reinterpret_cast<GetTrevalicListJsonFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, "GetTrevalicListJson")));
    }
    ~CTrevalicDll()
    {
        if (module)
            FreeLibrary(module);
    }
    bool Loaded() const { return module && getProvidersList && getTrevalicListJson; }

    // The document through the size query and a buffer of exactly the size reported.
    std::wstring List(int32_t providerType) const
    {
        size_t count = 0;
        if (getProvidersList(providerType, nullptr, &count) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return L"(size query failed)";
        std::wstring text(count, L'\0');
        if (!getProvidersList(providerType, text.data(), &count) || GetLastError() != 0)
            return L"(fill failed)";
        text.resize(count - 1);
        return text;
    }

    std::wstring ListJson() const
    {
        BSTR text = getTrevalicListJson();
        std::wstring result = text ? std::wstring(text, SysStringLen(text)) : L"(null)";
        SysFreeString(text);
        return result;
    }

    HMODULE module = nullptr;
    GetProvidersListFn getProvidersList = nullptr;
    GetTrevalicListJsonFn getTrevalicListJson = nullptr;
};

// The expiry of the second Microsoft registration: 2027-08-27 00:00 local time of this
// machine, as the UTC text the document carries.
std::wstring MicrosoftBExpiryText()
{
    SYSTEMTIME local{2027, 8, 0, 27, 0, 0, 0, 0};
    FILETIME localTime, utcTime;
    SYSTEMTIME utc;
    EXPECT_TRUE(SystemTimeToFileTime(&local, &localTime));
    EXPECT_TRUE(LocalFileTimeToFileTime(&localTime, &utcTime));
    EXPECT_TRUE(FileTimeToSystemTime(&utcTime, &utc));
    wchar_t text[32];
    _snwprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond);
    return text;
}

std::wstring Replace(std::wstring text, const std::wstring& from, const std::wstring& to)
{
    for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The document with no registry values. @EXPIRY@ stands for the Microsoft B instant.
const wchar_t* const ExpectedDocument =
    L"{\"Trevalic\": ["
    L"{\"Id\":\"google-imap\",\"Name\":\"Google OAuth\",\"UiVisible\":true,"
    L"\"AuthorizationEndpoint\":\"https://accounts.google.com/o/oauth2/v2/auth\","
    L"\"TokenEndpoint\":\"https://oauth2.googleapis.com/token\","
    L"\"ClientId\":\"" TREVALIC_GOOGLE_CLIENT_ID L"\","
    L"\"ClientSecrets\":[{ \"Value\": \"" TREVALIC_GOOGLE_CLIENT_SECRET L"\",\"Expiration\": null }],"
    L"\"Scope\":\"https://mail.google.com/\","
    L"\"RedirectUrl\":\"https://www.quorell.com/OAuth2Redirect\",\"RedirectPort\":32023,\"ProviderType\":\"IMAP\","
    L"\"ExtraParameters\": {\"prompt\":\"select_account consent\",\"access_type\":\"offline\"}},\n"
    L"{\"Id\":\"microsoft-imap\",\"Name\":\"Microsoft identity platform\",\"UiVisible\":false,"
    L"\"AuthorizationEndpoint\":\"https://login.microsoftonline.com/common/oauth2/v2.0/authorize\","
    L"\"TokenEndpoint\":\"https://login.microsoftonline.com/common/oauth2/v2.0/token\","
    L"\"ClientId\":\"" TREVALIC_MICROSOFT_A_CLIENT_ID L"\","
    L"\"ClientSecrets\":[{ \"Value\": \"" TREVALIC_MICROSOFT_A_CLIENT_SECRET L"\",\"Expiration\": null }],"
    L"\"Scope\":\"offline_access https://outlook.office.com/IMAP.AccessAsUser.All https://outlook.office.com/Mail.Read "
    L"https://outlook.office.com/Mail.ReadWrite https://outlook.office.com/Mail.ReadWrite.Shared https://outlook.office.com/User.Read\","
    L"\"RedirectUrl\":\"https://www.quorell.com/OAuth2Redirect\",\"RedirectPort\":32023,\"ProviderType\":\"IMAP\","
    L"\"ExtraParameters\": {\"prompt\":\"select_account\"}},\n"
    L"{\"Id\":\"microsoft-imap-v2\",\"Name\":\"Microsoft identity platform\",\"UiVisible\":true,"
    L"\"AuthorizationEndpoint\":\"https://login.microsoftonline.com/common/oauth2/v2.0/authorize\","
    L"\"TokenEndpoint\":\"https://login.microsoftonline.com/common/oauth2/v2.0/token\","
    L"\"ClientId\":\"" TREVALIC_MICROSOFT_B_CLIENT_ID L"\","
    L"\"ClientSecrets\":[{ \"Value\": \"" TREVALIC_MICROSOFT_B_CLIENT_SECRET L"\",\"Expiration\": \"@EXPIRY@\" }],"
    L"\"Scope\":\"offline_access https://outlook.office.com/IMAP.AccessAsUser.All https://outlook.office.com/Mail.Read "
    L"https://outlook.office.com/Mail.ReadWrite https://outlook.office.com/Mail.ReadWrite.Shared https://outlook.office.com/User.Read\","
    L"\"RedirectUrl\":\"https://www.quorell.com/OAuth2Redirect\",\"RedirectPort\":32023,\"ProviderType\":\"IMAP\","
    L"\"ExtraParameters\": {\"prompt\":\"select_account\"}},\n"
    L"{\"Id\":\"microsoft-graph\",\"Name\":\"Microsoft identity platform\",\"UiVisible\":false,"
    L"\"AuthorizationEndpoint\":\"https://login.microsoftonline.com/common/oauth2/v2.0/authorize\","
    L"\"TokenEndpoint\":\"https://login.microsoftonline.com/common/oauth2/v2.0/token\","
    L"\"ClientId\":\"" TREVALIC_MICROSOFT_A_CLIENT_ID L"\","
    L"\"ClientSecrets\":[{ \"Value\": \"" TREVALIC_MICROSOFT_A_CLIENT_SECRET L"\",\"Expiration\": null }],"
    L"\"Scope\":\"openid email profile offline_access user.read mail.read mail.readwrite mail.readwrite.shared\","
    L"\"RedirectUrl\":\"https://www.quorell.com/OAuth2Redirect\",\"RedirectPort\":32023,\"ProviderType\":\"Graph\","
    L"\"ExtraParameters\": {\"prompt\":\"select_account\"}},\n"
    L"{\"Id\":\"microsoft-graph-v2\",\"Name\":\"Microsoft identity platform\",\"UiVisible\":true,"
    L"\"AuthorizationEndpoint\":\"https://login.microsoftonline.com/common/oauth2/v2.0/authorize\","
    L"\"TokenEndpoint\":\"https://login.microsoftonline.com/common/oauth2/v2.0/token\","
    L"\"ClientId\":\"" TREVALIC_MICROSOFT_B_CLIENT_ID L"\","
    L"\"ClientSecrets\":[{ \"Value\": \"" TREVALIC_MICROSOFT_B_CLIENT_SECRET L"\",\"Expiration\": \"@EXPIRY@\" }],"
    L"\"Scope\":\"openid email profile offline_access user.read mail.read mail.readwrite mail.readwrite.shared\","
    L"\"RedirectUrl\":\"https://www.quorell.com/OAuth2Redirect\",\"RedirectPort\":32023,\"ProviderType\":\"Graph\","
    L"\"ExtraParameters\": {\"prompt\":\"select_account\"}},\n"
    L"{\"Id\":\"microsoft-sharepoint\",\"Name\":\"Microsoft identity platform\",\"UiVisible\":false,"
    L"\"AuthorizationEndpoint\":\"https://login.microsoftonline.com/common/oauth2/v2.0/authorize\","
    L"\"TokenEndpoint\":\"https://login.microsoftonline.com/common/oauth2/v2.0/token\","
    L"\"ClientId\":\"" TREVALIC_MICROSOFT_A_CLIENT_ID L"\","
    L"\"ClientSecrets\":[{ \"Value\": \"" TREVALIC_MICROSOFT_A_CLIENT_SECRET L"\",\"Expiration\": null }],"
    L"\"Scope\":\"\","
    L"\"RedirectUrl\":\"https://www.quorell.com/OAuth2Redirect\",\"RedirectPort\":32023,\"ProviderType\":\"SharePoint\","
    L"\"ExtraParameters\": {\"prompt\":\"select_account\"}},\n"
    L"{\"Id\":\"microsoft-sharepoint-v2\",\"Name\":\"Microsoft identity platform\",\"UiVisible\":true,"
    L"\"AuthorizationEndpoint\":\"https://login.microsoftonline.com/common/oauth2/v2.0/authorize\","
    L"\"TokenEndpoint\":\"https://login.microsoftonline.com/common/oauth2/v2.0/token\","
    L"\"ClientId\":\"" TREVALIC_MICROSOFT_B_CLIENT_ID L"\","
    L"\"ClientSecrets\":[{ \"Value\": \"" TREVALIC_MICROSOFT_B_CLIENT_SECRET L"\",\"Expiration\": \"@EXPIRY@\" }],"
    L"\"Scope\":\"\","
    L"\"RedirectUrl\":\"https://www.quorell.com/OAuth2Redirect\",\"RedirectPort\":32023,\"ProviderType\":\"SharePoint\","
    L"\"ExtraParameters\": {\"prompt\":\"select_account\"}}"
    L"]}";

std::string Utf8(const std::wstring& text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(bytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), bytes, nullptr, nullptr);
    return out;
}

// Parses with an independent parser that keeps the members in document order.
nlohmann::ordered_json Parse(const std::wstring& document)
{
    for (wchar_t unit : document) {
        if (unit >= 0x80) {
            ADD_FAILURE() << "a unit outside ASCII was not escaped: " << static_cast<unsigned>(unit);
            break;
        }
    }
    return nlohmann::ordered_json::parse(Utf8(document));
}

class TrevalicExport : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dll.Loaded()) << "LoadLibraryW error " << GetLastError(); }
    CTrevalicDll dll;
};

} // namespace

TEST_F(TrevalicExport, DocumentForTheDefaultRegistry)
{
    const std::wstring expected = Replace(ExpectedDocument, L"@EXPIRY@", MicrosoftBExpiryText());
    EXPECT_EQ(dll.List(0), expected);
    EXPECT_EQ(dll.ListJson(), expected);
}

TEST_F(TrevalicExport, DocumentParsesWithEveryValue)
{
    const std::wstring document = dll.List(0);
    const nlohmann::ordered_json json = Parse(document);
    ASSERT_TRUE(json.is_object());
    ASSERT_EQ(json.size(), 1u);
    const auto& list = json.at("Trevalic");
    ASSERT_TRUE(list.is_array());
    ASSERT_EQ(list.size(), 7u);
    const std::vector<std::string> keys = {"Id", "Name", "UiVisible", "AuthorizationEndpoint", "TokenEndpoint", "ClientId",
                                           "ClientSecrets", "Scope", "RedirectUrl", "RedirectPort", "ProviderType",
                                           "ExtraParameters"};
    const char* ids[] = {"google-imap", "microsoft-imap", "microsoft-imap-v2", "microsoft-graph",
                         "microsoft-graph-v2", "microsoft-sharepoint", "microsoft-sharepoint-v2"};
    const char* types[] = {"IMAP", "IMAP", "IMAP", "Graph", "Graph", "SharePoint", "SharePoint"};
    const std::string expiry = Utf8(MicrosoftBExpiryText());
    for (size_t i = 0; i < list.size(); ++i) {
        SCOPED_TRACE(ids[i]);
        const auto& record = list[i];
        std::vector<std::string> order;
        for (const auto& member : record.items())
            order.push_back(member.key());
        EXPECT_EQ(order, keys);
        const bool google = i == 0;
        const bool v2 = i == 2 || i == 4 || i == 6;
        EXPECT_EQ(record["Id"], ids[i]);
        EXPECT_EQ(record["Name"], google ? "Google OAuth" : "Microsoft identity platform");
        EXPECT_EQ(record["UiVisible"], google || v2);
        EXPECT_EQ(record["ProviderType"], types[i]);
        EXPECT_EQ(record["RedirectUrl"], "https://www.quorell.com/OAuth2Redirect");
        ASSERT_TRUE(record["RedirectPort"].is_number_unsigned());
        EXPECT_EQ(record["RedirectPort"], 32023u);
        const auto& secrets = record["ClientSecrets"];
        ASSERT_EQ(secrets.size(), 1u);
        EXPECT_TRUE(secrets[0]["Value"].is_string());
        if (v2)
            EXPECT_EQ(secrets[0]["Expiration"], expiry);
        else
            EXPECT_TRUE(secrets[0]["Expiration"].is_null());
        EXPECT_EQ(record["Scope"].get<std::string>().empty(), i >= 5);
        const auto& parameters = record["ExtraParameters"];
        ASSERT_TRUE(parameters.is_object());
        EXPECT_EQ(parameters["prompt"], google ? "select_account consent" : "select_account");
        EXPECT_EQ(parameters.size(), google ? 2u : 1u);
    }
}

TEST_F(TrevalicExport, SizeProtocol)
{
    struct Row {
        int32_t providerType;
        std::vector<std::string> ids; // in document order
    } rows[] = {
        {0, {"google-imap", "microsoft-imap", "microsoft-imap-v2", "microsoft-graph", "microsoft-graph-v2",
             "microsoft-sharepoint", "microsoft-sharepoint-v2"}},
        {1, {"google-imap", "microsoft-imap", "microsoft-imap-v2"}},
        {2, {"microsoft-graph", "microsoft-graph-v2"}},
        {3, {"microsoft-sharepoint", "microsoft-sharepoint-v2"}},
        {5, {}},
        {-1, {}},
        {INT_MIN, {}},
        {INT_MAX, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "type " << row.providerType);
        size_t needed = 0;
        SetLastError(Sentinel);
        EXPECT_FALSE(dll.getProvidersList(row.providerType, nullptr, &needed));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        ASSERT_GT(needed, 1u);

        std::vector<wchar_t> buffer(needed + 8, Canary);
        const std::vector<wchar_t> untouched = buffer;
        for (size_t count : {size_t(0), size_t(1), needed - 1}) {
            size_t inOut = count;
            SetLastError(Sentinel);
            EXPECT_FALSE(dll.getProvidersList(row.providerType, buffer.data(), &inOut)) << "count " << count;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << "count " << count;
            EXPECT_EQ(inOut, needed) << "count " << count;
            EXPECT_EQ(buffer, untouched) << "count " << count;
        }
        for (size_t count : {needed, needed + 8}) {
            std::fill(buffer.begin(), buffer.end(), Canary);
            size_t inOut = count;
            SetLastError(Sentinel);
            EXPECT_TRUE(dll.getProvidersList(row.providerType, buffer.data(), &inOut)) << "count " << count;
            EXPECT_EQ(GetLastError(), 0u) << "count " << count;
            EXPECT_EQ(inOut, needed) << "count " << count;
            EXPECT_EQ(buffer[needed - 1], L'\0') << "count " << count;
            for (size_t i = needed; i < buffer.size(); ++i)
                ASSERT_EQ(buffer[i], Canary) << "written past the needed count at " << i;
        }
        const std::wstring document(buffer.data(), needed - 1);
        std::vector<std::string> ids;
        const nlohmann::ordered_json json = Parse(document);
        for (const auto& record : json["Trevalic"])
            ids.push_back(record["Id"]);
        EXPECT_EQ(ids, row.ids);
        // Records are separated by a comma and a line feed, and nothing else stands between them.
        EXPECT_EQ(std::count(document.begin(), document.end(), L'\n'), static_cast<std::ptrdiff_t>(ids.empty() ? 0 : ids.size() - 1));
        if (ids.empty())
            EXPECT_EQ(document, L"{\"Trevalic\": []}");
    }
}

TEST_F(TrevalicExport, InvalidArgumentsLeaveEverythingUntouched)
{
    std::vector<wchar_t> buffer(8192, Canary);
    const std::vector<wchar_t> untouched = buffer;
    struct Row {
        const char* what;
        int32_t providerType;
        bool withLength;
    } rows[] = {{"null length", 0, false}, {"null length, type 4", 4, false}, {"type 4", 4, true}};
    for (const Row& row : rows) {
        size_t count = buffer.size();
        SetLastError(Sentinel);
        EXPECT_FALSE(dll.getProvidersList(row.providerType, buffer.data(), row.withLength ? &count : nullptr)) << row.what;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << row.what;
        EXPECT_EQ(count, buffer.size()) << row.what;
        EXPECT_EQ(buffer, untouched) << row.what;
    }
    SetLastError(Sentinel);
    EXPECT_FALSE(dll.getProvidersList(0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(TrevalicExport, ConcurrentCallersGetIdenticalDocuments)
{
    const std::wstring reference = dll.List(0);
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                if ((t + i) % 2 ? dll.List(0) != reference : dll.ListJson() != reference)
                    mismatches.fetch_add(1, std::memory_order_relaxed);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

namespace {

// Values under the settings key, seen by a freshly loaded DLL through an HKLM that points at
// a key of the test's own; the shared prefix's real HKLM is never written.
class CRegistrySandbox {
public:
    CRegistrySandbox()
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, Root);
        RegCreateKeyExW(HKEY_CURRENT_USER, Root, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr);
        RegCreateKeyExW(root, L"SOFTWARE\\Quorell\\Tarnwick\\12.0\\Trevalic", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &settings, nullptr);
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, root);
    }
    ~CRegistrySandbox()
    {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegCloseKey(settings);
        RegCloseKey(root);
        RegDeleteTreeW(HKEY_CURRENT_USER, Root);
    }
    // Exactly these bytes: the sentinel after them keeps RegSetValueExW from adding a terminator.
    bool Set(const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        std::vector<BYTE> bytes(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
        bytes.insert(bytes.end(), {'X', 'X'});
        return RegSetValueExW(settings, name, 0, type, bytes.data(), size) == ERROR_SUCCESS;
    }

private:
    static constexpr const wchar_t* Root = L"Software\\TrevalicExportTest";
    HKEY root = nullptr;
    HKEY settings = nullptr;
};

} // namespace

TEST(TrevalicExportRegistry, OverridesReadAtLoad)
{
    ASSERT_EQ(GetModuleHandleW(L"Trevalic.dll"), nullptr);
    const std::wstring odd = L"https://h.test/\"q\"\\b\x01\x1f\t\x7f\xe9\x200e/\xd83d\xde00";
    const std::wstring long513(513, L'u');
    struct Row {
        const char* what;
        const wchar_t* name;
        DWORD type;
        std::wstring text; // string data, stored without a terminator
        DWORD number;      // for REG_DWORD-sized data when text is empty and the name is the port
        std::string url;   // expected, UTF-8
        uint32_t port;
        const wchar_t* rawUrl; // expected raw JSON text of the URL, when it is worth checking
    } rows[] = {
        {"no values", nullptr, REG_NONE, L"", 0, "https://www.quorell.com/OAuth2Redirect", 32023, nullptr},
        {"odd characters", L"RedirectUrl", REG_SZ, odd + L'\0', 0, Utf8(odd), 32023,
         L"\"RedirectUrl\":\"https://h.test/\\\"q\\\"\\\\b\\u0001\\u001f\\t\\u007f\\u00e9\\u200e/\\ud83d\\ude00\""},
        {"empty", L"RedirectUrl", REG_SZ, std::wstring(1, L'\0'), 0, "", 32023, L"\"RedirectUrl\":\"\","},
        {"embedded NUL", L"RedirectUrl", REG_SZ, std::wstring(L"https://a\0b", 11), 0, "https://a", 32023, nullptr},
        {"REG_EXPAND_SZ", L"RedirectUrl", REG_EXPAND_SZ, L"%SystemRoot%\\x", 0, "https://www.quorell.com/OAuth2Redirect", 32023, nullptr},
        {"REG_MULTI_SZ", L"RedirectUrl", REG_MULTI_SZ, std::wstring(L"one\0two\0\0", 9), 0, "https://www.quorell.com/OAuth2Redirect", 32023, nullptr},
        {"over 1024 bytes", L"RedirectUrl", REG_SZ, long513, 0, "https://www.quorell.com/OAuth2Redirect", 32023, nullptr},
        {"port 0", L"RedirectPort", REG_DWORD, L"", 0, "https://www.quorell.com/OAuth2Redirect", 0, L"\"RedirectPort\":0,"},
        {"port 4294967295", L"RedirectPort", REG_DWORD, L"", 0xFFFFFFFF, "https://www.quorell.com/OAuth2Redirect", 4294967295u, L"\"RedirectPort\":4294967295,"},
        {"port REG_QWORD", L"RedirectPort", REG_QWORD, L"", 8080, "https://www.quorell.com/OAuth2Redirect", 32023, nullptr},
        {"port REG_DWORD_BIG_ENDIAN", L"RedirectPort", REG_DWORD_BIG_ENDIAN, L"", 8080, "https://www.quorell.com/OAuth2Redirect", 32023, nullptr},
        {"port REG_BINARY", L"RedirectPort", REG_BINARY, L"", 8080, "https://www.quorell.com/OAuth2Redirect", 32023, nullptr},
        {"port REG_SZ", L"RedirectPort", REG_SZ, std::wstring(L"8080", 5), 0, "https://www.quorell.com/OAuth2Redirect", 32023, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CRegistrySandbox sandbox;
        if (row.name && !row.text.empty()) {
            ASSERT_TRUE(sandbox.Set(row.name, row.type, row.text.data(), static_cast<DWORD>(row.text.size() * sizeof(wchar_t))));
        } else if (row.name) {
            const uint64_t number = row.number;
            ASSERT_TRUE(sandbox.Set(row.name, row.type, &number, row.type == REG_QWORD ? 8 : 4));
        }
        std::wstring document;
        {
            CTrevalicDll dll;
            ASSERT_TRUE(dll.Loaded()) << "LoadLibraryW error " << GetLastError();
            document = dll.List(0);
            EXPECT_EQ(dll.ListJson(), document);
        }
        ASSERT_EQ(GetModuleHandleW(L"Trevalic.dll"), nullptr) << "the DLL stayed loaded";
        if (row.rawUrl) {
            EXPECT_NE(document.find(row.rawUrl), std::wstring::npos) << Utf8(document);
        }
        const nlohmann::ordered_json json = Parse(document);
        ASSERT_EQ(json["Trevalic"].size(), 7u);
        for (const auto& record : json["Trevalic"]) {
            EXPECT_EQ(record["RedirectUrl"], row.url);
            EXPECT_EQ(record["RedirectPort"], row.port);
        }
    }
}
