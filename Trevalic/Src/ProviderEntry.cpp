// Provider records and their rendering as JSON objects.
#include "ProviderEntry.h"

#include "Errors.h"
#include "JsonTools.h"
#include "RedirectSettings.h"
#include "Time.h"

#include <cwchar>

namespace Trevalic {

using namespace Zelkor;

const EnumClassItem<ProviderType> ProviderTypeNames[] = {
    {ProviderType::Any, L"Any"},
    {ProviderType::IMAP, L"IMAP"},
    {ProviderType::Graph, L"Graph"},
    {ProviderType::SharePoint, L"SharePoint"},
    {ProviderType::ProviderTypeCount, nullptr},
};

int64_t MicrosoftBExpiration()
{
    SYSTEMTIME local{};
    local.wYear = 2027;
    local.wMonth = 8;
    local.wDay = 27;
    return LocalSystemTimeToFileTime(local);
}

ProviderEntry::ProviderEntry(const ProviderDefinition& definition)
    : Id(definition.Id), Name(definition.Name), UiVisible(definition.UiVisible),
      AuthorizationEndpoint(definition.AuthorizationEndpoint), TokenEndpoint(definition.TokenEndpoint),
      ClientId(definition.ClientId),
      // An empty scope shares the framework's empty string instead of a buffer of its own.
      Scope(*definition.Scope ? CUnicodeString(definition.Scope) : CUnicodeString()), RedirectUrl(RedirectUrlSetting),
      RedirectPort(RedirectPortSetting), ProviderType(definition.Type)
{
    ClientSecrets.Add(ClientSecret{CUnicodeString(definition.SecretValue),
                                   definition.SecretExpires ? MicrosoftBExpiration() : NeverExpires});
    // Sized for the pairs to come before the first one arrives: the slot order, and so the
    // order of the parameters in the document, is that of the smallest bucket count.
    ExtraParameters.Rehash(static_cast<int32_t>(definition.Parameters.size()));
    for (const ProviderParameter& parameter : definition.Parameters)
        ExtraParameters.Add(CUnicodeString(parameter.Key), CUnicodeString(parameter.Value));
}

ProviderEntry::ProviderEntry(const CMessageName& name) noexcept : Name(name)
{
}

using namespace JsonToolsInternal;

namespace {

void AppendSecrets(CUnicodeString& out, const CArray<ClientSecret>& secrets)
{
    CJsonArrayWriter array(out);
    for (int32_t i = 0; i < secrets.GetSize(); ++i) {
        CUnicodeString& secret = array.Element();
        AppendLiteral(secret, L"{ \"Value\": ");
        AppendQuoted(secret, secrets[i].Value);
        AppendLiteral(secret, L",\"Expiration\": ");
        AppendTime(secret, secrets[i].Expiration);
        AppendLiteral(secret, L" }");
    }
    array.End();
}

void AppendProvider(CUnicodeString& out, const ProviderEntry& record)
{
    CJsonObjectWriter object(out);
    AppendQuoted(object.Key(L"\"Id\":"), record.Id);
    // The title in the language of the moment; a message no module supplies shows its name.
    AppendQuoted(object.Key(L"\"Name\":"), LoadMessageOrName(record.Name));
    AppendBool(object.Key(L"\"UiVisible\":"), record.UiVisible);
    AppendQuoted(object.Key(L"\"AuthorizationEndpoint\":"), record.AuthorizationEndpoint);
    AppendQuoted(object.Key(L"\"TokenEndpoint\":"), record.TokenEndpoint);
    AppendQuoted(object.Key(L"\"ClientId\":"), record.ClientId);
    AppendSecrets(object.Key(L"\"ClientSecrets\":"), record.ClientSecrets);
    AppendQuoted(object.Key(L"\"Scope\":"), record.Scope);
    AppendQuoted(object.Key(L"\"RedirectUrl\":"), record.RedirectUrl);
    AppendUnsigned(object.Key(L"\"RedirectPort\":"), record.RedirectPort);
    const wchar_t* typeName = FindEnumName(ProviderTypeNames, record.ProviderType);
    AppendQuoted(object.Key(L"\"ProviderType\":"), typeName, static_cast<int32_t>(wcslen(typeName)));
    AppendParameters(object.Key(L"\"ExtraParameters\": "), record.ExtraParameters);
    object.End();
}

// Room for the whole document of the seven built-in records at once (about 4600 units with
// the development registrations), so that rendering copies nothing twice.
constexpr int32_t DocumentCapacityHint = 6144;

} // namespace

CUnicodeString SecretsToJson(const CArray<ClientSecret>& secrets)
{
    return Rendered([&](CUnicodeString& out) { AppendSecrets(out, secrets); });
}

CUnicodeString ProviderToJson(const ProviderEntry& record)
{
    return Rendered([&](CUnicodeString& out) { AppendProvider(out, record); });
}

CUnicodeString ProviderListToJson(int32_t providerType)
{
    CUnicodeString document;
    document.GetBuffer(DocumentCapacityHint);
    document.ReleaseBuffer(0);
    CJsonObjectWriter root(document);
    CJsonArrayWriter records(root.Key(L"\"Trevalic\": "), L",\n");
    for (const ProviderEntry* record : BuiltInProviders) {
        if (providerType != 0 && providerType != static_cast<int32_t>(record->ProviderType))
            continue;
        AppendProvider(records.Element(), *record);
    }
    records.End();
    root.End();
    return document;
}

} // namespace Trevalic
