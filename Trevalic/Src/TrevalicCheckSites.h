// Where the library's failed checks are reported: the source path and the line that the
// failure message shows, named in one table as the framework names its own (CheckSites.h), so
// that the code that checks and the tests that pin a report name the same constant.
#pragma once

#include "CheckSites.h"

namespace Trevalic::CheckSite {

// Src/JsonTools: a code unit written as more than four hexadecimal digits
inline constexpr Zelkor::CCheckSite JsonEscapeTooManyDigits{L"Src/JsonTools", 47};

// Inc/EnumClassItem: a value that its enumeration's name table does not name
inline constexpr Zelkor::CCheckSite EnumValueWithoutName{L"Inc/EnumClassItem", 48};

} // namespace Trevalic::CheckSite
