// Failure entry points.
#include <windows.h>

#include "Errors.h"

namespace Zelkor {

bool GenerateInternalError(FailureKind kind, const wchar_t*, const wchar_t*, const wchar_t* sourceFile,
                           int32_t line, uint32_t errorCode)
{
    throw new CInternalError(kind, sourceFile, line, errorCode);
}

void ThrowMemoryException()
{
    throw new CMemoryException();
}

void ThrowLastErrorException(uint32_t errorCode)
{
    throw new CLastErrorException(errorCode);
}

} // namespace Zelkor
