// TEMPORARY stand-in (see ../README.txt).
#pragma once
#include <windows.h>

#include <cstdint>

#include "Errors.h"

namespace Zelkor {
inline int32_t ShowMessage(const wchar_t* text, uint32_t flags)
{
    return MessageBoxW(nullptr, text, L"Zelkor", flags);
}
// The caller deletes e afterwards.
inline void ProcessException(CException* e)
{
    CErrorScope reporting(CErrorScope::Reporting);
    e->Report();
}
} // namespace Zelkor
