// The framework's text type: one pointer to a shared, reference-counted buffer of UTF-16
// code units. Copying shares the buffer; a holder that writes to a buffer others share
// copies it first. Every empty string points at one static empty buffer, so making an
// empty string never allocates.
//
// Positions and lengths are 32-bit character counts. A position or count outside the text
// (negative, or past the end) is a violated contract and reported through
// GenerateInternalError; an exhausted memory manager throws CMemoryException. On failure the
// string is left as it was.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "CheckSites.h"
#include "String.h"
#include "StringCore.h"

namespace Zelkor {

class CUnicodeSet;

class CUnicodeString : public StringInternal::CStringCore<wchar_t> {
    using Core = StringInternal::CStringCore<wchar_t>;

public:
    using Core::Core;
    CUnicodeString() = default;
    CUnicodeString& operator=(const wchar_t* text);

    // Index 0 to the length; the length itself reads the terminator.
    wchar_t operator[](int32_t index) const
    {
        if (static_cast<uint32_t>(index) > static_cast<uint32_t>(buffer->Length)) {
            ReportFailedCheck(ZELKOR_HERE(L"Inc/UnicodeString"));
            return 0;
        }
        return GetText()[index];
    }

    int32_t GetReferenceCount() const { return buffer->Count.load(std::memory_order_relaxed); }

    CUnicodeString Mid(int32_t start, int32_t count) const;
    CUnicodeString Mid(int32_t start) const; // to the end
    CUnicodeString Left(int32_t n) const;    // n is clamped to 0 .. length

    static CUnicodeString Concat(const wchar_t* text1, int32_t length1, const wchar_t* text2, int32_t length2);

    using Core::Append;
    // A string appended to itself, or to a copy, gives a text inside this buffer, which the
    // append holds by an extra reference while it copies.
    void Append(const CUnicodeString& other) { Append(other.GetText(), other.GetLength()); }
    CUnicodeString& operator+=(const CUnicodeString& other)
    {
        Append(other);
        return *this;
    }
    CUnicodeString& operator+=(const wchar_t* text);
    CUnicodeString& operator+=(wchar_t c)
    {
        Append(&c, 1);
        return *this;
    }
    void Insert(const wchar_t* text, int32_t length, int32_t position);
    void Delete(int32_t position, int32_t count);
    void ReplacePrefix(int32_t count, const wchar_t* text, int32_t length);
    void SetAt(int32_t index, wchar_t c);

    void Trim();                       // whitespace at both ends
    void Trim(const CUnicodeSet& set); // members of set at both ends

    // Runtime wide formatting: %s takes a wide string, %S a narrow one.
    void Format(const wchar_t* format, ...);
    void FormatV(const wchar_t* format, va_list args);

    // Fills "%N" placeholders with parameter N; see UnicodeString.cpp for the exact rules.
    // Null entries count as empty texts.
    CUnicodeString SubstParam(const wchar_t* const* parameters, int32_t count) const;
    CUnicodeString SubstParam(const CUnicodeString* parameters, int32_t count) const;

    // False (and the string empty) when the entry loads as nothing and the platform reports
    // an error; an entry that is there but empty gives true.
    bool LoadFromResource(HMODULE module, uint32_t id);

    void FromInt(int32_t value, int radix = 10); // radix 2 to 36
    void FromUInt(uint32_t value, int radix = 10);

    // On failure the output is left untouched.
    bool ParseBool(bool& out) const;
    bool ParseInt(int32_t& out) const;

    // Code page 0 is the system's ANSI code page, 1 its OEM code page.
    CString ToMultiByte(uint32_t codePage) const;
    static CString ToMultiByte(const wchar_t* text, int32_t length, uint32_t codePage);

    int32_t Find(wchar_t c, int32_t start = 0) const;           // -1 when absent
    int32_t Find(const wchar_t* text, int32_t start = 0) const; // -1 when absent
    bool StartsWith(const wchar_t* text) const;

    int Compare(const CUnicodeString& other) const;       // ordinal by code unit
    int CompareNoCase(const CUnicodeString& other) const; // ordinal after upper-casing
    int Compare(const wchar_t* text) const;
    int CompareNoCase(const wchar_t* text) const;

private:
    CUnicodeString(StringInternal::CBufferHeader* adopted, Adopt) : Core(adopted, Adopt{}) {}
    void TrimWith(const CUnicodeSet& set);
};

bool operator==(const CUnicodeString& left, const CUnicodeString& right);
bool operator==(const CUnicodeString& left, const wchar_t* right);
bool operator==(const wchar_t* left, const CUnicodeString& right);
inline bool operator!=(const CUnicodeString& left, const CUnicodeString& right)
{
    return !(left == right);
}
inline bool operator!=(const CUnicodeString& left, const wchar_t* right)
{
    return !(left == right);
}
inline bool operator!=(const wchar_t* left, const CUnicodeString& right)
{
    return !(left == right);
}

CUnicodeString operator+(const CUnicodeString& left, const CUnicodeString& right);
CUnicodeString operator+(const CUnicodeString& left, const wchar_t* right);
CUnicodeString operator+(const wchar_t* left, const CUnicodeString& right);
CUnicodeString operator+(const CUnicodeString& left, wchar_t right);

} // namespace Zelkor
