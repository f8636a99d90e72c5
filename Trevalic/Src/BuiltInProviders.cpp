// The seven built-in provider records. Client identifiers and secrets are build inputs (the
// registrations file named at configure time); the header is generated from it.
#include "CatalogueMessages.h"
#include "GuardedStatic.h"
#include "ProviderEntry.h"
#include "StartupOrder.h"
#include "TrevalicRegistrations.h"

namespace Trevalic {

namespace {

using Messages::MSG_OAUTH_TITLE_GOOGLE;
using Messages::MSG_OAUTH_TITLE_MICROSOFT;

constexpr const wchar_t* GoogleAuthorizationEndpoint = L"https://accounts.google.com/o/oauth2/v2/auth";
constexpr const wchar_t* GoogleTokenEndpoint = L"https://oauth2.googleapis.com/token";
constexpr const wchar_t* GoogleMailScope = L"https://mail.google.com/";

// The multi-tenant authority "common" accepts work, school and personal accounts.
constexpr const wchar_t* MicrosoftAuthorizationEndpoint =
    L"https://login.microsoftonline.com/common/oauth2/v2.0/authorize";
constexpr const wchar_t* MicrosoftTokenEndpoint = L"https://login.microsoftonline.com/common/oauth2/v2.0/token";
constexpr const wchar_t* OutlookImapScope = L"offline_access"
                                            L" https://outlook.office.com/IMAP.AccessAsUser.All"
                                            L" https://outlook.office.com/Mail.Read"
                                            L" https://outlook.office.com/Mail.ReadWrite"
                                            L" https://outlook.office.com/Mail.ReadWrite.Shared"
                                            L" https://outlook.office.com/User.Read";
constexpr const wchar_t* GraphScope =
    L"openid email profile offline_access user.read mail.read mail.readwrite mail.readwrite.shared";

const ProviderParameter GoogleParameters[] = {
    {L"access_type", L"offline"},
    {L"prompt", L"select_account consent"},
};
const ProviderParameter MicrosoftParameters[] = {
    {L"prompt", L"select_account"},
};

ProviderDefinition Google(const wchar_t* id)
{
    return {.Id = id,
            .Name = MSG_OAUTH_TITLE_GOOGLE,
            .UiVisible = true,
            .Type = ProviderType::IMAP,
            .AuthorizationEndpoint = GoogleAuthorizationEndpoint,
            .TokenEndpoint = GoogleTokenEndpoint,
            .ClientId = TREVALIC_GOOGLE_CLIENT_ID,
            .SecretValue = TREVALIC_GOOGLE_CLIENT_SECRET,
            .SecretExpires = false,
            .Scope = GoogleMailScope,
            .Parameters = GoogleParameters};
}

// Two applications are registered with Microsoft. The first one's secret never expires; the
// second one's ends in August 2027, and only its records are shown to the user.
enum class MicrosoftApplication { First, Second };

ProviderDefinition Microsoft(const wchar_t* id, MicrosoftApplication application, ProviderType type,
                             const wchar_t* scope)
{
    const bool second = application == MicrosoftApplication::Second;
    return {.Id = id,
            .Name = MSG_OAUTH_TITLE_MICROSOFT,
            .UiVisible = second,
            .Type = type,
            .AuthorizationEndpoint = MicrosoftAuthorizationEndpoint,
            .TokenEndpoint = MicrosoftTokenEndpoint,
            .ClientId = second ? TREVALIC_MICROSOFT_B_CLIENT_ID : TREVALIC_MICROSOFT_A_CLIENT_ID,
            .SecretValue = second ? TREVALIC_MICROSOFT_B_CLIENT_SECRET : TREVALIC_MICROSOFT_A_CLIENT_SECRET,
            .SecretExpires = second,
            .Scope = scope,
            .Parameters = MicrosoftParameters};
}

using enum MicrosoftApplication;

// A record built at load. When building it fails, the load is refused and a bare record stands
// in until the teardown.
ProviderEntry Record(const ProviderDefinition& definition) noexcept
{
    return Zelkor::GuardedInit([&] { return ProviderEntry(definition); },
                               [&] { return ProviderEntry(definition.Name); });
}

// Built in catalogue order after the redirect settings, destroyed in reverse before them.
ZELKOR_INIT(ZELKOR_ROW_LIBRARY + 20) const ProviderEntry GoogleImap = Record(Google(L"google-imap"));
ZELKOR_INIT(ZELKOR_ROW_LIBRARY + 20)
const ProviderEntry MicrosoftImap = Record(Microsoft(L"microsoft-imap", First, ProviderType::IMAP, OutlookImapScope));
ZELKOR_INIT(ZELKOR_ROW_LIBRARY + 20)
const ProviderEntry MicrosoftImapV2 =
    Record(Microsoft(L"microsoft-imap-v2", Second, ProviderType::IMAP, OutlookImapScope));
ZELKOR_INIT(ZELKOR_ROW_LIBRARY + 20)
const ProviderEntry MicrosoftGraph = Record(Microsoft(L"microsoft-graph", First, ProviderType::Graph, GraphScope));
ZELKOR_INIT(ZELKOR_ROW_LIBRARY + 20)
const ProviderEntry MicrosoftGraphV2 =
    Record(Microsoft(L"microsoft-graph-v2", Second, ProviderType::Graph, GraphScope));
ZELKOR_INIT(ZELKOR_ROW_LIBRARY + 20)
const ProviderEntry MicrosoftSharePoint =
    Record(Microsoft(L"microsoft-sharepoint", First, ProviderType::SharePoint, L""));
ZELKOR_INIT(ZELKOR_ROW_LIBRARY + 20)
const ProviderEntry MicrosoftSharePointV2 =
    Record(Microsoft(L"microsoft-sharepoint-v2", Second, ProviderType::SharePoint, L""));

} // namespace

// Counted by the compiler: the declaration's bound must match this list.
const ProviderEntry* const BuiltInProviders[] = {
    &GoogleImap,       &MicrosoftImap,       &MicrosoftImapV2,       &MicrosoftGraph,
    &MicrosoftGraphV2, &MicrosoftSharePoint, &MicrosoftSharePointV2,
};

} // namespace Trevalic
