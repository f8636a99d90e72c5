// A message module for the resource-module tests: it maps a few message names to string ids
// of its own string table. Built twice, as MessageModuleA and MessageModuleB, which know some
// names in common; IconModule is built without this source.
#include <windows.h>

#include <cwchar>

namespace {

struct Entry {
    const wchar_t* Name;
    unsigned int Id;
};

#if defined(MESSAGE_MODULE_A)
const Entry Entries[] = {{L"MSG_ONLY_A", 101}, {L"MSG_SHARED", 102}};
#else
// MSG_ONLY_A has an id here but no string: the lookup must go on to an older module.
const Entry Entries[] = {{L"MSG_SHARED", 201}, {L"MSG_ONLY_A", 299}};
#endif

} // namespace

extern "C" __declspec(dllexport) unsigned int GetResourceID(const wchar_t* name)
{
    for (const Entry& entry : Entries) {
        if (std::wcscmp(entry.Name, name) == 0)
            return entry.Id;
    }
    return 0;
}
