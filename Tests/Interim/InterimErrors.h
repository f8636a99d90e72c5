// TEMPORARY stand-in (see README.txt): the file-error entry point that Errors.h will declare.
#pragma once

#include <cstdint>

#include "Errors.h"
#include "UnicodeString.h"

namespace Zelkor {
void ThrowFileException(uint32_t errorCode, const CUnicodeString& fileName);
}
