// The catalogue exports as the host sees them: Trevalic.dll loaded by LoadLibraryW.
#include <windows.h>
#include <oleauto.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <tuple>

#include "TestSupport.h"
#include "Trevalic.h"
#include "TrevalicRegistrations.h"

namespace {

constexpr DWORD Sentinel = 0xDEADBEEF;
constexpr wchar_t Canary = 0xCCCC;

// Loaded for the lifetime of the object; the DLL reads the registry when it is loaded.
struct CTrevalicDll {
    ~CTrevalicDll() { FreeLibrary(module); }
    std::wstring ListJson() const
    {
        BSTR text = getTrevalicListJson ? getTrevalicListJson() : nullptr;
        std::wstring result = text ? std::wstring(text, SysStringLen(text)) : L"(null)";
        SysFreeString(text);
        return result;
    }

    const HMODULE module = LoadLibraryW(L"Trevalic.dll");
    const PFN_GetProvidersList getProvidersList = ExportOf<PFN_GetProvidersList>(module, "GetProvidersList");
    const PFN_GetTrevalicListJson getTrevalicListJson = ExportOf<PFN_GetTrevalicListJson>(module, "GetTrevalicListJson");
};

#define MS_ENDPOINT L"https://login.microsoftonline.com/common/oauth2/v2.0/"

// The redirect settings as the document shows them when no registry value is set.
const std::wstring DefaultRedirect = L"\"RedirectUrl\":\"https://www.quorell.com/OAuth2Redirect\",\"RedirectPort\":32023,";

// The document with these redirect settings, of the records listed by their index in the full catalogue.
std::wstring ExpectedDocument(const char* records = "0123456", const std::wstring& redirect = DefaultRedirect)
{
    // The second Microsoft registration expires at 2027-08-27 00:00 local time of this machine,
    // by the rules of that date; the document gives that instant in UTC.
    SYSTEMTIME local{2027, 8, 0, 27, 0, 0, 0, 0}, utc;
    EXPECT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc));
    wchar_t expiry[32];
    _snwprintf(expiry, 32, L"\"%04u-%02u-%02uT%02u:%02u:%02uZ\"", utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond);
    const std::wstring outlook =
        L"offline_access https://outlook.office.com/IMAP.AccessAsUser.All https://outlook.office.com/Mail.Read "
        L"https://outlook.office.com/Mail.ReadWrite https://outlook.office.com/Mail.ReadWrite.Shared https://outlook.office.com/User.Read";
    const std::wstring graph = L"openid email profile offline_access user.read mail.read mail.readwrite mail.readwrite.shared";
    std::vector<std::wstring> all = {
        L"{\"Id\":\"google-imap\",\"Name\":\"Google OAuth\",\"UiVisible\":true,"
        L"\"AuthorizationEndpoint\":\"https://accounts.google.com/o/oauth2/v2/auth\",\"TokenEndpoint\":\"https://oauth2.googleapis.com/token\","
        L"\"ClientId\":\"" TREVALIC_GOOGLE_CLIENT_ID L"\",\"ClientSecrets\":[{ \"Value\": \"" TREVALIC_GOOGLE_CLIENT_SECRET L"\",\"Expiration\": null }],\"Scope\":\"https://mail.google.com/\"," +
        redirect + L"\"ProviderType\":\"IMAP\",\"ExtraParameters\": {\"prompt\":\"select_account consent\",\"access_type\":\"offline\"}}"};
    // The Microsoft records: the v2 ones use the second registration, which expires.
    for (const auto& [id, scope, type] : {std::tuple(L"microsoft-imap", outlook, L"IMAP"), std::tuple(L"microsoft-graph", graph, L"Graph"),
                                          std::tuple(L"microsoft-sharepoint", std::wstring(), L"SharePoint")})
        for (bool v2 : {false, true})
            all.push_back(
                L"{\"Id\":\"" + std::wstring(id) + (v2 ? L"-v2" : L"") + L"\",\"Name\":\"Microsoft identity platform\",\"UiVisible\":" +
                (v2 ? L"true" : L"false") +
                L",\"AuthorizationEndpoint\":\"" MS_ENDPOINT L"authorize\",\"TokenEndpoint\":\"" MS_ENDPOINT L"token\",\"ClientId\":\"" +
                (v2 ? TREVALIC_MICROSOFT_B_CLIENT_ID : TREVALIC_MICROSOFT_A_CLIENT_ID) + L"\",\"ClientSecrets\":[{ \"Value\": \"" +
                (v2 ? TREVALIC_MICROSOFT_B_CLIENT_SECRET : TREVALIC_MICROSOFT_A_CLIENT_SECRET) + L"\",\"Expiration\": " +
                (v2 ? expiry : L"null") + L" }],\"Scope\":\"" + scope + L"\"," + redirect + L"\"ProviderType\":\"" + type +
                L"\",\"ExtraParameters\": {\"prompt\":\"select_account\"}}");
    std::wstring text = L"{\"Trevalic\": [";
    for (const char* i = records; *i; ++i)
        text += (i == records ? L"" : L",\n") + all[*i - '0'];
    return text + L"]}";
}

struct TrevalicExport : testing::Test {
    void SetUp() override { ASSERT_TRUE(dll.getProvidersList && dll.getTrevalicListJson) << "LoadLibraryW error " << GetLastError(); }
    CTrevalicDll dll;
};

// Values under the settings key, seen by a freshly loaded DLL through an HKLM that points at a
// key of the test's own; the shared prefix's real HKLM is never written.
struct TrevalicExportRegistry : testing::Test {
    void SetUp() override { RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch.key); }
    void TearDown() override { RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr); }
    // One key per process: the schema check runs this test beside its discovered twin.
    CScratchKey scratch{L"TrevalicExportTest"};
};

} // namespace

// Every filter through the size protocol: a null or short buffer gets the count needed and stays
// untouched; a buffer of that count or more gets the document, its terminator and nothing else.
// Named Document* so that it also runs outside UTC, where the expiry text moves.
TEST_F(TrevalicExport, DocumentOfEachFilterThroughTheSizeProtocol)
{
    // Each type with the indices of its records in the full catalogue.
    const std::pair<int32_t, const char*> rows[] = {{0, "0123456"}, {1, "012"}, {2, "34"}, {3, "56"}, {5, ""}, {-1, ""}, {INT_MAX, ""}};
    for (const auto& [providerType, records] : rows) {
        SCOPED_TRACE(testing::Message() << "type " << providerType);
        const std::wstring expected = ExpectedDocument(records) + L'\0';
        const size_t needed = expected.size();
        for (size_t count : {size_t(0), size_t(1), needed - 1, needed, needed + 8}) {
            const bool fits = count >= needed;
            std::vector<wchar_t> buffer(needed + 8, Canary);
            size_t inOut = count;
            SetLastError(Sentinel);
            // The empty query comes without a buffer, as a caller asking for the size sends it.
            EXPECT_EQ(dll.getProvidersList(providerType, count ? buffer.data() : nullptr, &inOut), fits) << "count " << count;
            EXPECT_EQ(GetLastError(), fits ? 0u : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << "count " << count;
            EXPECT_EQ(inOut, needed) << "count " << count;
            EXPECT_EQ(std::wstring(buffer.data(), needed), fits ? expected : std::wstring(needed, Canary)) << "count " << count;
            EXPECT_EQ(std::wstring(buffer.data() + needed, 8), std::wstring(8, Canary)) << "count " << count;
        }
    }
}

// A null length, whatever the type and the buffer, and the end-of-kinds value 4 are refused
// before anything is written.
TEST_F(TrevalicExport, InvalidArgumentsLeaveEverythingUntouched)
{
    std::vector<wchar_t> buffer(8192, Canary);
    const std::tuple<int32_t, bool, bool> rows[] = {{0, false, false}, {0, true, false}, {4, false, true}, {4, true, true}};
    for (const auto& [providerType, withBuffer, withLength] : rows) {
        SCOPED_TRACE(testing::Message() << "type " << providerType << (withBuffer ? ", buffer" : "") << (withLength ? ", length" : ""));
        size_t count = buffer.size();
        SetLastError(Sentinel);
        EXPECT_FALSE(dll.getProvidersList(providerType, withBuffer ? buffer.data() : nullptr, withLength ? &count : nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(count, buffer.size());
        EXPECT_EQ(buffer, std::vector<wchar_t>(buffer.size(), Canary));
    }
}

// Each kind of value the reader refuses is covered in TrevalicRedirectRegistry; here, that the
// loaded DLL takes both values from HKLM and renders them into every record, at the edges of each.
TEST_F(TrevalicExportRegistry, OverridesReadAtLoad)
{
    const wchar_t* const settingsKey = L"SOFTWARE\\Quorell\\Tarnwick\\12.0\\Trevalic";
    // The URL is stored with its terminator.
    // clang-format off
    const struct { std::wstring url; DWORD port; std::wstring rendered; } rows[] = {
        {L"https://h.test/\"q\"\\b\x01\x1f\t\x7f\xe9\x200e/\xd83d\xde00", 4294967295u,
         LR"("RedirectUrl":"https://h.test/\"q\"\\b\u0001\u001f\t\u007f\u00e9\u200e/\ud83d\ude00","RedirectPort":4294967295,)"},
        {L"", 0, LR"("RedirectUrl":"","RedirectPort":0,)"}};
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &row - rows);
        const DWORD urlBytes = DWORD((row.url.size() + 1) * sizeof(wchar_t));
        ASSERT_EQ(RegSetKeyValueW(scratch.key, settingsKey, L"RedirectUrl", REG_SZ, row.url.c_str(), urlBytes), ERROR_SUCCESS);
        ASSERT_EQ(RegSetKeyValueW(scratch.key, settingsKey, L"RedirectPort", REG_DWORD, &row.port, sizeof row.port), ERROR_SUCCESS);
        // Unloaded again at once, so that the next row's values are read by a fresh load.
        const std::wstring document = CTrevalicDll().ListJson();
        EXPECT_EQ(document, ExpectedDocument("0123456", row.rendered));
        // The schema check validates these documents too; it names a folder for them. Every unit
        // outside ASCII comes escaped, so narrowing keeps the document whole.
        if (const char* folder = std::getenv("TREVALIC_DOCUMENT_DIR"))
            std::ofstream(std::string(folder) + "/override-" + std::to_string(&row - rows) + ".json", std::ios::binary)
                << std::string(document.begin(), document.end());
    }
}
