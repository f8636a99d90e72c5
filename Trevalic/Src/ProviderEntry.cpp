// Provider records and their rendering as JSON objects.
#include "ProviderEntry.h"

#include "JsonTools.h"
#include "RedirectSettings.h"
#include "ResourceInfo.h"
#include "Time.h"

namespace Zelkor {

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
    : Id(definition.Id),
      Name(definition.Name),
      UiVisible(definition.UiVisible),
      AuthorizationEndpoint(definition.AuthorizationEndpoint),
      TokenEndpoint(definition.TokenEndpoint),
      ClientId(definition.ClientId),
      // An empty scope shares the framework's empty string instead of a buffer of its own.
      Scope(*definition.Scope ? CUnicodeString(definition.Scope) : CUnicodeString()),
      RedirectUrl(RedirectUrlSetting),
      RedirectPort(RedirectPortSetting),
      ProviderType(definition.Type)
{
    ClientSecrets.Add(ClientSecret{CUnicodeString(definition.SecretValue),
                                   definition.SecretExpires ? MicrosoftBExpiration() : NeverExpires});
    // Sized for the pairs to come before the first one arrives: the slot order, and so the
    // order of the parameters in the document, is that of the smallest bucket count.
    ExtraParameters.Rehash(definition.ParameterCount);
    for (int32_t i = 0; i < definition.ParameterCount; ++i)
        ExtraParameters.Add(CUnicodeString(definition.Parameters[i].Key), CUnicodeString(definition.Parameters[i].Value));
}

namespace {

// The title in the language of the moment; a message no module supplies shows its name.
CUnicodeString LoadTitle(const CMessageName& name)
{
    CUnicodeString title;
    if (!LoadMessageText(name, title))
        title = CUnicodeString(name.GetName());
    return title;
}

CUnicodeString FormatPort(uint32_t port)
{
    wchar_t digits[10];
    int32_t count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + port % 10);
        port /= 10;
    } while (port != 0);
    wchar_t text[10];
    for (int32_t i = 0; i < count; ++i)
        text[i] = digits[count - 1 - i];
    return CUnicodeString(text, count);
}

} // namespace

CUnicodeString ProviderToJson(const ProviderEntry& record)
{
    CUnicodeString json(L"{\"Id\":");
    json += QuoteJsonText(record.Id);
    json += L",\"Name\":";
    json += QuoteJsonText(LoadTitle(record.Name));
    json += L",\"UiVisible\":";
    json += record.UiVisible ? L"true" : L"false";
    json += L",\"AuthorizationEndpoint\":";
    json += QuoteJsonText(record.AuthorizationEndpoint);
    json += L",\"TokenEndpoint\":";
    json += QuoteJsonText(record.TokenEndpoint);
    json += L",\"ClientId\":";
    json += QuoteJsonText(record.ClientId);
    json += L",\"ClientSecrets\":";
    json += SecretsToJson(record.ClientSecrets);
    json += L",\"Scope\":";
    json += QuoteJsonText(record.Scope);
    json += L",\"RedirectUrl\":";
    json += QuoteJsonText(record.RedirectUrl);
    json += L",\"RedirectPort\":";
    json += FormatPort(record.RedirectPort);
    json += L",\"ProviderType\":";
    json += QuoteJsonText(CUnicodeString(FindEnumName(ProviderTypeNames, record.ProviderType)));
    json += L",\"ExtraParameters\": ";
    json += ParametersToJson(record.ExtraParameters);
    json += L'}';
    return json;
}

CUnicodeString ProviderListToJson(int32_t providerType)
{
    CUnicodeString list;
    for (const ProviderEntry* record : BuiltInProviders) {
        if (providerType != 0 && providerType != static_cast<int32_t>(record->ProviderType))
            continue;
        if (!list.IsEmpty())
            list += L",\n";
        list += ProviderToJson(*record);
    }
    CUnicodeString document(L"{\"Trevalic\": [");
    document += list;
    document += L"]}";
    return document;
}

} // namespace Zelkor
