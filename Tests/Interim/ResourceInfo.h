// TEMPORARY stand-in (see README.txt).
#pragma once
#include <windows.h>
namespace Zelkor {
HMODULE GetZelkorModuleHandle();
inline HMODULE FindIconModule(const wchar_t* name)
{
    HMODULE module = GetZelkorModuleHandle();
    return FindResourceW(module, name, RT_GROUP_ICON) ? module : nullptr;
}
}
