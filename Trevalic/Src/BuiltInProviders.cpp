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
    return {id,
            MSG_OAUTH_TITLE_GOOGLE,
            true,
            ProviderType::IMAP,
            GoogleAuthorizationEndpoint,
            GoogleTokenEndpoint,
            TREVALIC_GOOGLE_CLIENT_ID,
            TREVALIC_GOOGLE_CLIENT_SECRET,
            false,
            GoogleMailScope,
            GoogleParameters,
            2};
}

// The first registration's secret never expires; the second one's ends in August 2027.
ProviderDefinition Microsoft(const wchar_t* id, bool secondRegistration, ProviderType type, const wchar_t* scope)
{
    return {id,
            MSG_OAUTH_TITLE_MICROSOFT,
            secondRegistration,
            type,
            MicrosoftAuthorizationEndpoint,
            MicrosoftTokenEndpoint,
            secondRegistration ? TREVALIC_MICROSOFT_B_CLIENT_ID : TREVALIC_MICROSOFT_A_CLIENT_ID,
            secondRegistration ? TREVALIC_MICROSOFT_B_CLIENT_SECRET : TREVALIC_MICROSOFT_A_CLIENT_SECRET,
            secondRegistration,
            scope,
            MicrosoftParameters,
            1};
}

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
const ProviderEntry MicrosoftImap = Record(Microsoft(L"microsoft-imap", false, ProviderType::IMAP, OutlookImapScope));
ZELKOR_INIT(ZELKOR_ROW_LIBRARY + 20)
const ProviderEntry MicrosoftImapV2 =
    Record(Microsoft(L"microsoft-imap-v2", true, ProviderType::IMAP, OutlookImapScope));
ZELKOR_INIT(ZELKOR_ROW_LIBRARY + 20)
const ProviderEntry MicrosoftGraph = Record(Microsoft(L"microsoft-graph", false, ProviderType::Graph, GraphScope));
ZELKOR_INIT(ZELKOR_ROW_LIBRARY + 20)
const ProviderEntry MicrosoftGraphV2 = Record(Microsoft(L"microsoft-graph-v2", true, ProviderType::Graph, GraphScope));
ZELKOR_INIT(ZELKOR_ROW_LIBRARY + 20)
const ProviderEntry MicrosoftSharePoint =
    Record(Microsoft(L"microsoft-sharepoint", false, ProviderType::SharePoint, L""));
ZELKOR_INIT(ZELKOR_ROW_LIBRARY + 20)
const ProviderEntry MicrosoftSharePointV2 =
    Record(Microsoft(L"microsoft-sharepoint-v2", true, ProviderType::SharePoint, L""));

} // namespace

const ProviderEntry* const BuiltInProviders[BuiltInProviderCount] = {
    &GoogleImap,       &MicrosoftImap,       &MicrosoftImapV2,       &MicrosoftGraph,
    &MicrosoftGraphV2, &MicrosoftSharePoint, &MicrosoftSharePointV2,
};

} // namespace Trevalic
