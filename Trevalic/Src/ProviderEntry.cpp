// Provider records and their rendering as JSON objects.
#include "ProviderEntry.h"

#include "JsonTools.h"
#include "RedirectSettings.h"
#include "ResourceInfo.h"
#include "Time.h"

#include <cwchar>

namespace Trevalic {

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

using namespace JsonToolsInternal;

namespace {

// The title in the language of the moment; a message no module supplies shows its name.
CUnicodeString LoadTitle(const CMessageName& name)
{
    CUnicodeString title;
    if (!LoadMessageText(name, title))
        title = CUnicodeString(name.GetName());
    return title;
}

void AppendPort(CUnicodeString& out, uint32_t port)
{
    wchar_t digits[10];
    int32_t start = 10;
    do {
        digits[--start] = static_cast<wchar_t>(L'0' + port % 10);
        port /= 10;
    } while (port != 0);
    out.Append(digits + start, 10 - start);
}

void AppendProvider(CUnicodeString& out, const ProviderEntry& record)
{
    AppendLiteral(out, L"{\"Id\":");
    AppendQuoted(out, record.Id);
    AppendLiteral(out, L",\"Name\":");
    AppendQuoted(out, LoadTitle(record.Name));
    if (record.UiVisible)
        AppendLiteral(out, L",\"UiVisible\":true");
    else
        AppendLiteral(out, L",\"UiVisible\":false");
    AppendLiteral(out, L",\"AuthorizationEndpoint\":");
    AppendQuoted(out, record.AuthorizationEndpoint);
    AppendLiteral(out, L",\"TokenEndpoint\":");
    AppendQuoted(out, record.TokenEndpoint);
    AppendLiteral(out, L",\"ClientId\":");
    AppendQuoted(out, record.ClientId);
    AppendLiteral(out, L",\"ClientSecrets\":");
    AppendSecrets(out, record.ClientSecrets);
    AppendLiteral(out, L",\"Scope\":");
    AppendQuoted(out, record.Scope);
    AppendLiteral(out, L",\"RedirectUrl\":");
    AppendQuoted(out, record.RedirectUrl);
    AppendLiteral(out, L",\"RedirectPort\":");
    AppendPort(out, record.RedirectPort);
    AppendLiteral(out, L",\"ProviderType\":");
    const wchar_t* typeName = FindEnumName(ProviderTypeNames, record.ProviderType);
    AppendQuoted(out, typeName, static_cast<int32_t>(wcslen(typeName)));
    AppendLiteral(out, L",\"ExtraParameters\": ");
    AppendParameters(out, record.ExtraParameters);
    out += L'}';
}

// Room for the whole document of the seven built-in records at once (about 4600 units with
// the development registrations), so that rendering copies nothing twice.
constexpr int32_t DocumentCapacityHint = 6144;

} // namespace

CUnicodeString ProviderToJson(const ProviderEntry& record)
{
    CUnicodeString json;
    AppendProvider(json, record);
    return json;
}

CUnicodeString ProviderListToJson(int32_t providerType)
{
    CUnicodeString document;
    document.GetBuffer(DocumentCapacityHint);
    document.ReleaseBuffer(0);
    AppendLiteral(document, L"{\"Trevalic\": [");
    bool first = true;
    for (const ProviderEntry* record : BuiltInProviders) {
        if (providerType != 0 && providerType != static_cast<int32_t>(record->ProviderType))
            continue;
        if (!first)
            AppendLiteral(document, L",\n");
        first = false;
        AppendProvider(document, *record);
    }
    AppendLiteral(document, L"]}");
    return document;
}

} // namespace Trevalic
