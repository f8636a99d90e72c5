// The catalogue exports as the host sees them: Trevalic.dll loaded by LoadLibraryW.
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Trevalic.h"
#include "TrevalicRegistrations.h"

namespace {


constexpr DWORD Sentinel = 0xDEADBEEF;
constexpr wchar_t Canary = 0xCCCC;

class CTrevalicDll {
public:
    CTrevalicDll() : module(LoadLibraryW(L"Trevalic.dll"))
    {
        if (module) {
            getProvidersList = reinterpret_cast<PFN_GetProvidersList>(reinterpret_cast<void (*)()>(GetProcAddress(module, "GetProvidersList")));
            getTrevalicListJson = reinterpret_cast<PFN_GetTrevalicListJson>(reinterpret_cast<void (*)()>(GetProcAddress(module, "GetTrevalicListJson")));
        }
    }
    ~CTrevalicDll() { if (module) FreeLibrary(module); }
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

    HMODULE module;
    PFN_GetProvidersList getProvidersList = nullptr;
    PFN_GetTrevalicListJson getTrevalicListJson = nullptr;
};

// 2027-08-27 00:00 local time of this machine, by the rules of that date, as UTC text: the second
// Microsoft registration's expiry.
std::wstring MicrosoftBExpiryText()
{
    SYSTEMTIME local{2027, 8, 0, 27, 0, 0, 0, 0}, utc;
    EXPECT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc));
    wchar_t text[32];
    _snwprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond);
    return text;
}

#define REDIRECT L"\"RedirectUrl\":\"https://www.quorell.com/OAuth2Redirect\",\"RedirectPort\":32023,"
#define MS_ENDPOINT L"https://login.microsoftonline.com/common/oauth2/v2.0/"

// A Microsoft record: the v2 ones use the second registration, which expires.
std::wstring MicrosoftRecord(const std::wstring& id, bool v2, const std::wstring& scope, const std::wstring& type)
{
    return L"{\"Id\":\"" + id + (v2 ? L"-v2" : L"") + L"\",\"Name\":\"Microsoft identity platform\",\"UiVisible\":" +
           (v2 ? L"true" : L"false") + L",\"AuthorizationEndpoint\":\"" MS_ENDPOINT L"authorize\",\"TokenEndpoint\":\"" MS_ENDPOINT
           L"token\",\"ClientId\":\"" + (v2 ? TREVALIC_MICROSOFT_B_CLIENT_ID : TREVALIC_MICROSOFT_A_CLIENT_ID) +
           L"\",\"ClientSecrets\":[{ \"Value\": \"" + (v2 ? TREVALIC_MICROSOFT_B_CLIENT_SECRET : TREVALIC_MICROSOFT_A_CLIENT_SECRET) +
           L"\",\"Expiration\": " + (v2 ? L"\"" + MicrosoftBExpiryText() + L"\"" : L"null") + L" }],\"Scope\":\"" + scope +
           L"\"," REDIRECT L"\"ProviderType\":\"" + type + L"\",\"ExtraParameters\": {\"prompt\":\"select_account\"}}";
}

// The document with no registry values, of the records listed by their index in the full catalogue.
std::wstring ExpectedDocument(const char* records = "0123456")
{
    const std::wstring outlook = L"offline_access https://outlook.office.com/IMAP.AccessAsUser.All https://outlook.office.com/Mail.Read "
        L"https://outlook.office.com/Mail.ReadWrite https://outlook.office.com/Mail.ReadWrite.Shared https://outlook.office.com/User.Read";
    const std::wstring graph = L"openid email profile offline_access user.read mail.read mail.readwrite mail.readwrite.shared";
    std::vector<std::wstring> all = {L"{\"Id\":\"google-imap\",\"Name\":\"Google OAuth\",\"UiVisible\":true,"
        L"\"AuthorizationEndpoint\":\"https://accounts.google.com/o/oauth2/v2/auth\",\"TokenEndpoint\":\"https://oauth2.googleapis.com/token\","
        L"\"ClientId\":\"" TREVALIC_GOOGLE_CLIENT_ID L"\",\"ClientSecrets\":[{ \"Value\": \"" TREVALIC_GOOGLE_CLIENT_SECRET
        L"\",\"Expiration\": null }],\"Scope\":\"https://mail.google.com/\"," REDIRECT L"\"ProviderType\":\"IMAP\","
        L"\"ExtraParameters\": {\"prompt\":\"select_account consent\",\"access_type\":\"offline\"}}"};
    for (const auto& [id, scope, type] : {std::tuple(L"microsoft-imap", outlook, L"IMAP"), std::tuple(L"microsoft-graph", graph, L"Graph"),
                                          std::tuple(L"microsoft-sharepoint", std::wstring(), L"SharePoint")})
        for (bool v2 : {false, true})
            all.push_back(MicrosoftRecord(id, v2, scope, type));
    std::wstring text = L"{\"Trevalic\": [";
    for (const char* i = records; *i; ++i)
        text += (i == records ? L"" : L",\n") + all[*i - '0'];
    return text + L"]}";
}

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
    for (wchar_t unit : document)
        if (unit >= 0x80) {
            ADD_FAILURE() << "a unit outside ASCII was not escaped: " << static_cast<unsigned>(unit);
            break;
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
    const std::wstring expected = ExpectedDocument();
    EXPECT_EQ(dll.List(0), expected);
    EXPECT_EQ(dll.ListJson(), expected);
    const nlohmann::ordered_json json = Parse(expected);
    ASSERT_EQ(json.size(), 1u);
    ASSERT_EQ(json.at("Trevalic").size(), 7u);
    for (const auto& record : json["Trevalic"])
        EXPECT_TRUE(record["RedirectPort"].is_number_unsigned());
}

TEST_F(TrevalicExport, SizeProtocol)
{
    struct Row {
        int32_t providerType;
        const char* records; // indices into the full catalogue
    } rows[] = {{0, "0123456"}, {1, "012"}, {2, "34"}, {3, "56"}, {5, ""}, {-1, ""}, {INT_MIN, ""}, {INT_MAX, ""}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "type " << row.providerType);
        size_t needed = 0;
        SetLastError(Sentinel);
        EXPECT_FALSE(dll.getProvidersList(row.providerType, nullptr, &needed));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        ASSERT_GT(needed, 1u);
        std::vector<wchar_t> buffer(needed + 8);
        for (size_t count : {size_t(0), size_t(1), needed - 1, needed, needed + 8}) {
            const bool fits = count >= needed;
            std::fill(buffer.begin(), buffer.end(), Canary);
            size_t inOut = count;
            SetLastError(Sentinel);
            EXPECT_EQ(dll.getProvidersList(row.providerType, buffer.data(), &inOut), fits) << "count " << count;
            EXPECT_EQ(GetLastError(), fits ? 0u : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << "count " << count;
            EXPECT_EQ(inOut, needed) << "count " << count;
            if (fits) {
                EXPECT_EQ(buffer[needed - 1], L'\0') << "count " << count;
            }
            for (size_t i = fits ? needed : 0; i < buffer.size(); ++i)
                ASSERT_EQ(buffer[i], Canary) << "count " << count << ": written at " << i;
        }
        EXPECT_EQ(dll.List(row.providerType), ExpectedDocument(row.records));
    }
}

TEST_F(TrevalicExport, InvalidArgumentsLeaveEverythingUntouched)
{
    std::vector<wchar_t> buffer(8192, Canary);
    const std::vector<wchar_t> untouched = buffer;
    struct Row {
        const char* what;
        int32_t providerType;
        bool withBuffer, withLength;
    } rows[] = {{"null length", 0, true, false}, {"null length, type 4", 4, true, false}, {"type 4", 4, true, true},
                {"null buffer and length", 0, false, false}};
    for (const Row& row : rows) {
        size_t count = buffer.size();
        SetLastError(Sentinel);
        EXPECT_FALSE(dll.getProvidersList(row.providerType, row.withBuffer ? buffer.data() : nullptr, row.withLength ? &count : nullptr)) << row.what;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << row.what;
        EXPECT_EQ(count, buffer.size()) << row.what;
        EXPECT_EQ(buffer, untouched) << row.what;
    }
}

TEST_F(TrevalicExport, ConcurrentCallersGetIdenticalDocuments)
{
    const std::wstring reference = dll.List(0);
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i)
                if ((t + i) % 2 ? dll.List(0) != reference : dll.ListJson() != reference)
                    ++mismatches;
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

namespace {

// Values under the settings key, seen by a freshly loaded DLL through an HKLM that points at
// a key of the test's own; the shared prefix's real HKLM is never written.
class CRegistrySandbox {
public:
    // Exactly these bytes: the sentinel after them keeps RegSetValueExW from adding a terminator.
    CRegistrySandbox(const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, Root.c_str());
        RegCreateKeyExW(HKEY_CURRENT_USER, Root.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr);
        RegCreateKeyExW(root, L"SOFTWARE\\Quorell\\Tarnwick\\12.0\\Trevalic", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &settings, nullptr);
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, root);
        std::vector<BYTE> bytes(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
        bytes.insert(bytes.end(), {'X', 'X'});
        stored = !name || RegSetValueExW(settings, name, 0, type, bytes.data(), size) == ERROR_SUCCESS;
    }
    ~CRegistrySandbox()
    {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegCloseKey(settings);
        RegCloseKey(root);
        RegDeleteTreeW(HKEY_CURRENT_USER, Root.c_str());
    }
    bool stored;

private:
    // One key per process: the schema check runs this test beside its discovered twin.
    const std::wstring Root = L"Software\\TrevalicExportTest-" + std::to_wstring(GetCurrentProcessId());
    HKEY root = nullptr, settings = nullptr;
};

} // namespace

// Each kind of value the reader refuses is covered in TrevalicRedirectRegistry; here, that the
// loaded DLL takes the values and renders them as JSON.
TEST(TrevalicExportRegistry, OverridesReadAtLoad)
{
    ASSERT_EQ(GetModuleHandleW(L"Trevalic.dll"), nullptr);
    const std::wstring odd = L"https://h.test/\"q\"\\b\x01\x1f\t\x7f\xe9\x200e/\xd83d\xde00";
    const std::string url = "https://www.quorell.com/OAuth2Redirect";
    struct Row {
        const wchar_t* name;
        DWORD type;
        std::wstring text; // stored without a terminator; when empty, number is stored
        DWORD number;
        std::string url;   // expected, UTF-8
        uint32_t port;
        const wchar_t* rawJson;
    } rows[] = {
        {nullptr, REG_NONE, L"", 0, url, 32023, L"\"RedirectUrl\":\"https://www.quorell.com/OAuth2Redirect\",\"RedirectPort\":32023,"},
        {L"RedirectUrl", REG_SZ, odd + L'\0', 0, Utf8(odd), 32023,
         L"\"RedirectUrl\":\"https://h.test/\\\"q\\\"\\\\b\\u0001\\u001f\\t\\u007f\\u00e9\\u200e/\\ud83d\\ude00\""},
        {L"RedirectUrl", REG_SZ, std::wstring(1, L'\0'), 0, "", 32023, L"\"RedirectUrl\":\"\","},
        {L"RedirectUrl", REG_EXPAND_SZ, L"%SystemRoot%\\x", 0, url, 32023, L"\"RedirectUrl\":\"https://www.quorell.com/OAuth2Redirect\""},
        {L"RedirectPort", REG_DWORD, L"", 0, url, 0, L"\"RedirectPort\":0,"},
        {L"RedirectPort", REG_DWORD, L"", 0xFFFFFFFF, url, 4294967295u, L"\"RedirectPort\":4294967295,"},
        {L"RedirectPort", REG_QWORD, L"", 8080, url, 32023, L"\"RedirectPort\":32023,"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &row - rows);
        const uint64_t number = row.number;
        CRegistrySandbox sandbox(row.name, row.type, row.text.empty() ? static_cast<const void*>(&number) : row.text.data(),
                                 static_cast<DWORD>(row.text.empty() ? (row.type == REG_QWORD ? 8 : 4) : row.text.size() * sizeof(wchar_t)));
        ASSERT_TRUE(sandbox.stored);
        std::wstring document;
        {
            CTrevalicDll dll;
            ASSERT_TRUE(dll.Loaded()) << "LoadLibraryW error " << GetLastError();
            document = dll.List(0);
            EXPECT_EQ(dll.ListJson(), document);
        }
        ASSERT_EQ(GetModuleHandleW(L"Trevalic.dll"), nullptr) << "the DLL stayed loaded";
        EXPECT_NE(document.find(row.rawJson), std::wstring::npos) << Utf8(document);
        // The schema check validates these documents too; it names a folder for them.
        if (const char* folder = std::getenv("TREVALIC_DOCUMENT_DIR"))
            if (FILE* file = std::fopen((std::string(folder) + "/override-" + std::to_string(&row - rows) + ".json").c_str(), "wb")) {
                std::fputs(Utf8(document).c_str(), file);
                std::fclose(file);
            }
        const nlohmann::ordered_json json = Parse(document);
        ASSERT_EQ(json["Trevalic"].size(), 7u);
        for (const auto& record : json["Trevalic"]) {
            EXPECT_EQ(record["RedirectUrl"], row.url);
            EXPECT_EQ(record["RedirectPort"], row.port);
        }
    }
}
