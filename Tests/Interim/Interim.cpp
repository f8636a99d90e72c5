// TEMPORARY stand-in (see README.txt).
#include "InterimErrors.h"

namespace Zelkor {
void ThrowFileException(uint32_t errorCode, const CUnicodeString&)
{
    throw new CLastErrorException(errorCode);
}
}
