// Narrow text in a code page, for the code-page interfaces of the platform. Same buffer
// layout and rules as CUnicodeString with 8-bit characters, and its own empty buffer.
#pragma once

#include "UnicodeString.h"

namespace Zelkor {

class CString {
public:
    CString() : buffer(StringInternal::AddReference(&StringInternal::EmptyNarrowBuffer.Header)) {}
    CString(const char* text);                 // null or "" share the empty buffer
    CString(const char* text, int32_t length); // length below 1 gives the empty string
    CString(const CString& other) : buffer(StringInternal::AddReference(other.buffer)) {}
    CString(CString&& other) noexcept
        : buffer(other.buffer)
    {
        other.buffer = StringInternal::AddReference(&StringInternal::EmptyNarrowBuffer.Header);
    }
    ~CString() { StringInternal::ReleaseReference(buffer); }

    CString& operator=(const CString& other)
    {
        StringInternal::CBufferHeader* old = buffer;
        buffer = StringInternal::AddReference(other.buffer);
        StringInternal::ReleaseReference(old);
        return *this;
    }
    CString& operator=(CString&& other) noexcept
    {
        if (this != &other) {
            StringInternal::CBufferHeader* old = buffer;
            buffer = other.buffer;
            other.buffer = StringInternal::AddReference(&StringInternal::EmptyNarrowBuffer.Header);
            StringInternal::ReleaseReference(old);
        }
        return *this;
    }

    int32_t GetLength() const { return buffer->Length; }
    bool IsEmpty() const { return buffer->Length == 0; }
    const char* GetText() const { return StringInternal::CharsOf<char>(buffer); } // never null
    operator const char*() const { return GetText(); }
    uint64_t GetCapacity() const { return buffer->Capacity; }
    bool SharesBufferWith(const CString& other) const { return buffer == other.buffer; }

    void Assign(const char* text, int32_t length);
    // text may point into this string.
    void Append(const char* text, int32_t length)
    {
        if (length > 0 && !StringInternal::AppendInPlace(buffer, text, length))
            AppendSlowPath(text, length);
    }
    void SetLength(int32_t n);                     // n not above the current length
    void Empty();
    char* GetBuffer(int32_t n);
    void ReleaseBuffer(int32_t length = -1);

private:
    void AppendSlowPath(const char* text, int32_t length);

    StringInternal::CBufferHeader* buffer; // never null
};

bool operator==(const CString& left, const char* right);
inline bool operator!=(const CString& left, const char* right) { return !(left == right); }

} // namespace Zelkor
