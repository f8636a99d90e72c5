// Rendering of single values of the provider list document. Every routine returns a new
// string; none keeps state, so any thread may call them at any time.
#pragma once

#include <cstdint>

#include "ProviderEntry.h"
#include "UnicodeString.h"

namespace Trevalic {

// One UTF-16 unit at a time: the two-character escapes for " \ and b f n r t, printable ASCII
// as is ("/" included), every other unit as \u and four lowercase hex digits, each half of a
// surrogate pair on its own.
CUnicodeString EscapeJsonText(const CUnicodeString& text);

// The escaped text between double quotes.
CUnicodeString QuoteJsonText(const CUnicodeString& text);

// null for NeverExpires; otherwise the UTC instant as "YYYY-MM-DDTHH:MM:SSZ" in quotes.
CUnicodeString FormatJsonTime(int64_t expiration);

// [{ "Value": "...","Expiration": ... },...] exactly as the host reads it.
CUnicodeString SecretsToJson(const CArray<ClientSecret>& secrets);

// {"key":"value",...} in the map's slot order.
CUnicodeString ParametersToJson(const ParameterMap& parameters);

// The same renderings appended to a text under construction, so that a whole document is
// written into one buffer instead of being pieced together from temporaries.
namespace JsonToolsInternal {

void AppendEscaped(CUnicodeString& out, const wchar_t* text, int32_t length);
void AppendQuoted(CUnicodeString& out, const wchar_t* text, int32_t length);
inline void AppendQuoted(CUnicodeString& out, const CUnicodeString& text) { AppendQuoted(out, text.GetText(), text.GetLength()); }
void AppendTime(CUnicodeString& out, int64_t expiration);
void AppendSecrets(CUnicodeString& out, const CArray<ClientSecret>& secrets);
void AppendParameters(CUnicodeString& out, const ParameterMap& parameters);

// Appends a literal whose length the compiler knows.
template <size_t N>
inline void AppendLiteral(CUnicodeString& out, const wchar_t (&text)[N])
{
    out.Append(text, static_cast<int32_t>(N - 1));
}

} // namespace JsonToolsInternal

} // namespace Trevalic
