// The provider records of the catalogue. Records are built while the library loads and are
// read-only afterwards, so any number of threads may render them without a lock; their strings
// are shared through atomic reference counts.
#pragma once

#include <cstdint>
#include <span>

#include "Array.h"
#include "EnumClassItem.h"
#include "JsonTools.h"
#include "Map.h"
#include "MessageName.h"
#include "UnicodeString.h"

namespace Trevalic {

enum class ProviderType : int32_t {
    Any = 0, // the filter value that selects every record; no record carries it
    IMAP = 1,
    Graph = 2,
    SharePoint = 3,
    ProviderTypeCount = 4, // end of the enumeration, never a valid kind
};

extern const EnumClassItem<ProviderType> ProviderTypeNames[];

struct ClientSecret {
    Zelkor::CUnicodeString Value;
    int64_t Expiration; // UTC file time, or NeverExpires (JsonTools.h)
};

// One extra authorisation parameter as it is written in the catalogue's source.
struct ProviderParameter {
    const wchar_t* Key;
    const wchar_t* Value;
};

// Everything that differs between two records, in plain texts.
struct ProviderDefinition {
    const wchar_t* Id;
    const Zelkor::CMessageName& Name;
    bool UiVisible;
    ProviderType Type;
    const wchar_t* AuthorizationEndpoint;
    const wchar_t* TokenEndpoint;
    const wchar_t* ClientId;
    const wchar_t* SecretValue;
    bool SecretExpires;   // at the end of the registration's validity, in local time
    const wchar_t* Scope; // empty for none
    std::span<const ProviderParameter> Parameters;
};

class ProviderEntry {
public:
    explicit ProviderEntry(const ProviderDefinition& definition);
    // What stands in for a record whose building failed: the load is then refused, so nothing
    // renders it. Allocates nothing.
    explicit ProviderEntry(const Zelkor::CMessageName& name) noexcept;
    ProviderEntry(const ProviderEntry&) = delete;
    ProviderEntry& operator=(const ProviderEntry&) = delete;

    // Built records are const objects; the fields are filled only by the constructor.
    Zelkor::CUnicodeString Id;
    const Zelkor::CMessageName& Name; // the title is looked up at every rendering
    bool UiVisible = false;
    Zelkor::CUnicodeString AuthorizationEndpoint;
    Zelkor::CUnicodeString TokenEndpoint;
    Zelkor::CUnicodeString ClientId;
    Zelkor::CArray<ClientSecret> ClientSecrets;
    Zelkor::CUnicodeString Scope;
    Zelkor::CUnicodeString RedirectUrl; // shares the buffer of RedirectUrlSetting
    uint32_t RedirectPort = 0;
    Trevalic::ProviderType ProviderType = Trevalic::ProviderType::Any;
    ParameterMap ExtraParameters;
};

// The instant after which the secrets of the second Microsoft registration are no longer
// valid: 2027-08-27 00:00 local time of this machine, converted with the time-zone rules in
// force on that date.
int64_t MicrosoftBExpiration();

constexpr int32_t BuiltInProviderCount = 7;

// The seven records in catalogue order, which is the order of the document.
extern const ProviderEntry* const BuiltInProviders[BuiltInProviderCount];

// [{ "Value": "...","Expiration": ... },...] exactly as the host reads it.
Zelkor::CUnicodeString SecretsToJson(const Zelkor::CArray<ClientSecret>& secrets);

// The record as one JSON object of the provider list document. Nothing calls it (the document
// writes its records in place); it stays as the documented rendering of one record.
Zelkor::CUnicodeString ProviderToJson(const ProviderEntry& record);

// The provider list document: every record for 0, otherwise the records of that kind (none
// for a value that names no kind). Rebuilt at every call; titles are looked up each time.
Zelkor::CUnicodeString ProviderListToJson(int32_t providerType);

} // namespace Trevalic
