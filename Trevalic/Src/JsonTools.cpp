// Rendering of single JSON values.
#include "JsonTools.h"

#include "Errors.h"
#include "Time.h"

namespace Zelkor {

namespace {

// The two-character escape of a unit, or 0 when it has none.
wchar_t ShortEscape(wchar_t unit)
{
    switch (unit) {
    case L'"': return L'"';
    case L'\\': return L'\\';
    case L'\b': return L'b';
    case L'\f': return L'f';
    case L'\n': return L'n';
    case L'\r': return L'r';
    case L'\t': return L't';
    default: return 0;
    }
}

bool IsPlain(wchar_t unit)
{
    return unit >= 0x20 && unit <= 0x7E && unit != L'"' && unit != L'\\';
}

int32_t EscapedLength(wchar_t unit)
{
    if (IsPlain(unit))
        return 1;
    return ShortEscape(unit) ? 2 : 6;
}

// Writes \uXXXX for unit at out; returns the position after it.
wchar_t* WriteUnicodeEscape(wchar_t* out, wchar_t unit)
{
    static const wchar_t hexDigits[] = L"0123456789abcdef";
    wchar_t digits[8];
    int32_t count = 0;
    for (uint32_t value = unit; value != 0 || count == 0; value >>= 4)
        digits[count++] = hexDigits[value & 0xF];
    ZELKOR_ASSERT_AT(count <= 4, L"Src/JsonTools", 47);
    *out++ = L'\\';
    *out++ = L'u';
    for (int32_t pad = count; pad < 4; ++pad)
        *out++ = L'0';
    while (count > 0)
        *out++ = digits[--count];
    return out;
}

} // namespace

CUnicodeString EscapeJsonText(const CUnicodeString& text)
{
    const wchar_t* source = text.GetText();
    const int32_t length = text.GetLength();
    int32_t escapedLength = 0;
    for (int32_t i = 0; i < length; ++i)
        escapedLength += EscapedLength(source[i]);
    if (escapedLength == length)
        return text;

    CUnicodeString result;
    wchar_t* out = result.GetBuffer(escapedLength);
    for (int32_t i = 0; i < length; ++i) {
        const wchar_t unit = source[i];
        if (IsPlain(unit)) {
            *out++ = unit;
        } else if (const wchar_t letter = ShortEscape(unit)) {
            *out++ = L'\\';
            *out++ = letter;
        } else {
            out = WriteUnicodeEscape(out, unit);
        }
    }
    result.ReleaseBuffer(escapedLength);
    return result;
}

CUnicodeString QuoteJsonText(const CUnicodeString& text)
{
    CUnicodeString result(L"\"", 1);
    result += EscapeJsonText(text);
    result += L'"';
    return result;
}

CUnicodeString FormatJsonTime(int64_t expiration)
{
    if (expiration == NeverExpires)
        return CUnicodeString(L"null", 4);
    CUnicodeString text = FormatTime(L"%Y-%m-%dT%H:%M:%S", expiration, -1);
    text += L'Z';
    return QuoteJsonText(text);
}

CUnicodeString SecretsToJson(const CArray<ClientSecret>& secrets)
{
    CUnicodeString result(L"[", 1);
    for (int32_t i = 0; i < secrets.GetSize(); ++i) {
        if (i > 0)
            result += L',';
        result += L"{ \"Value\": ";
        result += QuoteJsonText(secrets[i].Value);
        result += L",\"Expiration\": ";
        result += FormatJsonTime(secrets[i].Expiration);
        result += L" }";
    }
    result += L']';
    return result;
}

CUnicodeString ParametersToJson(const ParameterMap& parameters)
{
    CUnicodeString result(L"{", 1);
    bool first = true;
    parameters.ForEach([&](const CUnicodeString& key, const CUnicodeString& value) {
        if (!first)
            result += L',';
        first = false;
        result += QuoteJsonText(key);
        result += L':';
        result += QuoteJsonText(value);
    });
    result += L'}';
    return result;
}

} // namespace Zelkor
