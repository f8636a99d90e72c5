// Narrow strings: the string core they share with the wide ones lives in UnicodeString.cpp;
// what is their own is comparing with a plain text.
#include "String.h"

#include <cstring>

namespace Zelkor {

bool operator==(const CString& left, const char* right)
{
    const char* text = right == nullptr ? "" : right;
    const size_t length = std::strlen(text);
    return length == static_cast<size_t>(left.GetLength()) && std::memcmp(left.GetText(), text, length) == 0;
}

} // namespace Zelkor
