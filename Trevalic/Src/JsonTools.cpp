// Rendering of single JSON values.
#include "JsonTools.h"

#include "Time.h"
#include "TrevalicCheckSites.h"

namespace Trevalic {

using Zelkor::CUnicodeString;

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
    Zelkor::Check(count <= 4, CheckSite::JsonEscapeTooManyDigits);
    *out++ = L'\\';
    *out++ = L'u';
    for (int32_t pad = count; pad < 4; ++pad)
        *out++ = L'0';
    while (count > 0)
        *out++ = digits[--count];
    return out;
}

} // namespace

namespace JsonToolsInternal {

void AppendEscaped(CUnicodeString& out, const wchar_t* text, int32_t length)
{
    int32_t escapedLength = 0;
    for (int32_t i = 0; i < length; ++i)
        escapedLength += EscapedLength(text[i]);
    if (escapedLength == length) {
        out.Append(text, length);
        return;
    }
    const int32_t start = out.GetLength();
    wchar_t* write = out.GetBuffer(start + escapedLength) + start;
    for (int32_t i = 0; i < length; ++i) {
        const wchar_t unit = text[i];
        if (IsPlain(unit)) {
            *write++ = unit;
        } else if (const wchar_t letter = ShortEscape(unit)) {
            *write++ = L'\\';
            *write++ = letter;
        } else {
            write = WriteUnicodeEscape(write, unit);
        }
    }
    out.ReleaseBuffer(start + escapedLength);
}

void AppendQuoted(CUnicodeString& out, const wchar_t* text, int32_t length)
{
    out += L'"';
    AppendEscaped(out, text, length);
    out += L'"';
}

void AppendTime(CUnicodeString& out, int64_t expiration)
{
    if (expiration == NeverExpires) {
        AppendLiteral(out, L"null");
        return;
    }
    CUnicodeString text = Zelkor::FormatTime(L"%Y-%m-%dT%H:%M:%S", expiration, -1);
    text += L'Z';
    AppendQuoted(out, text);
}

void AppendUnsigned(CUnicodeString& out, uint32_t value)
{
    wchar_t digits[10];
    int32_t start = 10;
    do {
        digits[--start] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    out.Append(digits + start, 10 - start);
}

void AppendParameters(CUnicodeString& out, const ParameterMap& parameters)
{
    CJsonObjectWriter object(out);
    parameters.ForEach(
        [&](const CUnicodeString& key, const CUnicodeString& value) { AppendQuoted(object.Key(key), value); });
    object.End();
}

} // namespace JsonToolsInternal

using namespace JsonToolsInternal;

CUnicodeString EscapeJsonText(const CUnicodeString& text)
{
    // Text without anything to escape is shared, not copied.
    const int32_t length = text.GetLength();
    for (int32_t i = 0; i < length; ++i) {
        if (!IsPlain(text.GetText()[i]))
            return Rendered([&](CUnicodeString& out) { AppendEscaped(out, text.GetText(), length); });
    }
    return text;
}

CUnicodeString QuoteJsonText(const CUnicodeString& text)
{
    return Rendered([&](CUnicodeString& out) { AppendQuoted(out, text); });
}

CUnicodeString FormatJsonTime(int64_t expiration)
{
    return Rendered([&](CUnicodeString& out) { AppendTime(out, expiration); });
}

CUnicodeString ParametersToJson(const ParameterMap& parameters)
{
    return Rendered([&](CUnicodeString& out) { AppendParameters(out, parameters); });
}

} // namespace Trevalic
