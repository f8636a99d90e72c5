// TEMPORARY stand-in (see README.txt).
#include <cstdarg>
#include <cstdio>

#include "Errors.h"
#include "MessageName.h"
#include "Zelkor.h"

namespace Zelkor {

void ThrowFileException(uint32_t errorCode, const CUnicodeString&)
{
    throw new CLastErrorException(errorCode);
}

void ThrowCheckException(const CMessageName&, const CUnicodeString&, const CUnicodeString&)
{
    throw new CCheckException();
}

void DebugTrace(const wchar_t* format, ...)
{
    wchar_t text[4096];
    va_list args;
    va_start(args, format);
    _vsnwprintf(text, 4095, format, args);
    va_end(args);
    text[4095] = 0;
    OutputDebugStringW(text);
}

} // namespace Zelkor
