// TEMPORARY stand-in (see ../README.txt): registered modules, newest first, asked through their
// "GetResourceID" export and their string tables.
#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

#include "MessageName.h"
#include "UnicodeString.h"

namespace Zelkor {
inline std::vector<HMODULE> InterimResourceModules;
inline void RegisterResourceModule(HMODULE module)
{
    InterimResourceModules.push_back(module);
}
inline void UnregisterResourceModule(HMODULE) {}
inline bool LoadMessageText(const CMessageName& name, CUnicodeString& text)
{
    for (auto it = InterimResourceModules.rbegin(); it != InterimResourceModules.rend(); ++it) {
        auto getId = reinterpret_cast<uint32_t (*)(const wchar_t*)>(reinterpret_cast<void*>(GetProcAddress(*it, "GetResourceID")));
        const uint32_t id = getId ? getId(name.GetName()) : 0;
        const wchar_t* resource = nullptr;
        const int length = id ? LoadStringW(*it, id, reinterpret_cast<LPWSTR>(&resource), 0) : 0;
        if (length > 0) {
            text = CUnicodeString(resource, length);
            return true;
        }
    }
    return false;
}
} // namespace Zelkor
