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

// The separator rule of JSON arrays and objects, in one place: a separator before every
// element but the first, the closing bracket at End.
class CJsonListWriter {
public:
    CJsonListWriter(const CJsonListWriter&) = delete;
    CJsonListWriter& operator=(const CJsonListWriter&) = delete;

    void End() { out += close; }

protected:
    template <size_t N>
    CJsonListWriter(Zelkor::CUnicodeString& out, wchar_t open, wchar_t close, const wchar_t (&separator)[N])
        : out(out), separator(separator), separatorLength(static_cast<int32_t>(N - 1)), close(close)
    {
        out += open;
    }
    ~CJsonListWriter() = default;

    // The text for the next element to be appended, its separator written.
    Zelkor::CUnicodeString& Next()
    {
        if (elements++ > 0)
            out.Append(separator, separatorLength);
        return out;
    }

private:
    Zelkor::CUnicodeString& out;
    const wchar_t* separator;
    int32_t separatorLength;
    wchar_t close;
    int32_t elements = 0;
};

// Writes one array element by element: Element returns the text for the next one.
class CJsonArrayWriter : public CJsonListWriter {
public:
    explicit CJsonArrayWriter(Zelkor::CUnicodeString& out) : CJsonListWriter(out, L'[', L']', L",") {}
    template <size_t N>
    CJsonArrayWriter(Zelkor::CUnicodeString& out, const wchar_t (&separator)[N])
        : CJsonListWriter(out, L'[', L']', separator)
    {
    }

    Zelkor::CUnicodeString& Element() { return Next(); }
};

// Writes one object member by member: Key writes the key and returns the text for the member's
// value to be appended.
class CJsonObjectWriter : public CJsonListWriter {
public:
    explicit CJsonObjectWriter(Zelkor::CUnicodeString& out) : CJsonListWriter(out, L'{', L'}', L",") {}

    // A key literal as the document spells it, quotes, colon and blanks included.
    template <size_t N>
    Zelkor::CUnicodeString& Key(const wchar_t (&key)[N])
    {
        Zelkor::CUnicodeString& text = Next();
        AppendLiteral(text, key);
        return text;
    }
    // A key known at run time: quoted and escaped, then the colon.
    Zelkor::CUnicodeString& Key(const Zelkor::CUnicodeString& key)
    {
        Zelkor::CUnicodeString& text = Next();
        AppendQuoted(text, key);
        text += L':';
        return text;
    }
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
