// Value-to-name tables of enumerations: a constant list of {value, name} pairs ended by an
// entry without a name.
#pragma once

#include "TrevalicCheckSites.h"

namespace Trevalic {

template <class E>
struct EnumClassItem {
    E Value;
    const wchar_t* Name; // null ends the table
};

// The name of value, or the empty text after reporting a value the table does not name.
template <class E>
const wchar_t* FindEnumName(const EnumClassItem<E>* table, E value)
{
    for (; table->Name; ++table) {
        if (table->Value == value)
            return table->Name;
    }
    Zelkor::ReportFailedCheck(CheckSite::EnumValueWithoutName);
    return L"";
}

} // namespace Trevalic
