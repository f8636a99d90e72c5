// Narrow text in a code page, for the code-page interfaces of the platform. Same buffer
// layout, rules and operations as CUnicodeString with 8-bit characters, and its own empty
// buffer; its contract violations are reported at Src/String.
#pragma once

#include "StringCore.h"

namespace Zelkor {

class CString : public StringInternal::CStringCore<char> {
public:
    using CStringCore::CStringCore;
    CString() = default;
};

bool operator==(const CString& left, const char* right);
inline bool operator!=(const CString& left, const char* right)
{
    return !(left == right);
}

} // namespace Zelkor
