// The JSON writer of the provider list document. It knows plain values only (texts, numbers,
// file times, maps of texts); the provider records render themselves through it
// (ProviderEntry.h). Every routine keeps no state, so any thread may call them at any time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Map.h"
#include "UnicodeString.h"

namespace Trevalic {

// The largest file time, 2^63 - 1, stands for "never" and is written as null.
constexpr int64_t NeverExpires = INT64_MAX;

// Extra parameters of an authorisation request: texts by name, written in slot order.
using ParameterMap = Zelkor::CMap<Zelkor::CUnicodeString, Zelkor::CUnicodeString>;

// One UTF-16 unit at a time: the two-character escapes for " \ and b f n r t, printable ASCII
// as is ("/" included), every other unit as \u and four lowercase hex digits, each half of a
// surrogate pair on its own.
Zelkor::CUnicodeString EscapeJsonText(const Zelkor::CUnicodeString& text);

// The escaped text between double quotes.
Zelkor::CUnicodeString QuoteJsonText(const Zelkor::CUnicodeString& text);

// null for NeverExpires; otherwise the UTC instant as "YYYY-MM-DDTHH:MM:SSZ" in quotes. Nothing
// calls it (the document goes through AppendTime); it stays as the documented rendering of one
// expiry, beside the other single-value renderings.
Zelkor::CUnicodeString FormatJsonTime(int64_t expiration);

// {"key":"value",...} in the map's slot order.
Zelkor::CUnicodeString ParametersToJson(const ParameterMap& parameters);

// The same renderings appended to a text under construction, so that a whole document is
// written into one buffer instead of being pieced together from temporaries.
namespace JsonToolsInternal {

void AppendEscaped(Zelkor::CUnicodeString& out, const wchar_t* text, int32_t length);
void AppendQuoted(Zelkor::CUnicodeString& out, const wchar_t* text, int32_t length);
inline void AppendQuoted(Zelkor::CUnicodeString& out, const Zelkor::CUnicodeString& text)
{
    AppendQuoted(out, text.GetText(), text.GetLength());
}
void AppendTime(Zelkor::CUnicodeString& out, int64_t expiration);
// Decimal, without sign or leading zeros.
void AppendUnsigned(Zelkor::CUnicodeString& out, uint32_t value);
void AppendParameters(Zelkor::CUnicodeString& out, const ParameterMap& parameters);

// Appends a literal whose length the compiler knows.
template <size_t N>
inline void AppendLiteral(Zelkor::CUnicodeString& out, const wchar_t (&text)[N])
{
    out.Append(text, static_cast<int32_t>(N - 1));
}

inline void AppendBool(Zelkor::CUnicodeString& out, bool value)
{
    value ? AppendLiteral(out, L"true") : AppendLiteral(out, L"false");
}

// Writes one object member by member: Key writes the separator (before every member but the
// first) and the key literal, and returns the text for the member's value to be appended.
class CJsonObjectWriter {
public:
    explicit CJsonObjectWriter(Zelkor::CUnicodeString& out) : out(out) { out += L'{'; }
    CJsonObjectWriter(const CJsonObjectWriter&) = delete;
    CJsonObjectWriter& operator=(const CJsonObjectWriter&) = delete;

    template <size_t N>
    Zelkor::CUnicodeString& Key(const wchar_t (&key)[N])
    {
        if (members++ > 0)
            out += L',';
        AppendLiteral(out, key);
        return out;
    }
    void End() { out += L'}'; }

private:
    Zelkor::CUnicodeString& out;
    int32_t members = 0;
};

// What one of the Append forms writes, as a text of its own.
template <class Append>
Zelkor::CUnicodeString Rendered(Append append)
{
    Zelkor::CUnicodeString text;
    append(text);
    return text;
}

} // namespace JsonToolsInternal

} // namespace Trevalic
