// A process for the message-log tests. Arguments: a key under HKEY_CURRENT_USER that stands in
// for HKEY_LOCAL_MACHINE, a count and a text. Shows the text that many times through a handler
// of its own and exits with the number of displays; the log lands beside this program.
#include <windows.h>

#include <cwchar>

#include "MessageHandlers.h"
#include "ThreadData.h"

using namespace Zelkor;

namespace {
struct CCountingHandler : CMessageHandler {
    int32_t Show(HWND, const wchar_t*, const wchar_t*, uint32_t) override
    {
        ++shown;
        return IDOK;
    }
    int shown = 0;
};
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4)
        return -1;
    HKEY machine = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, argv[1], 0, KEY_READ, &machine) != ERROR_SUCCESS ||
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine) != ERROR_SUCCESS)
        return -2;
    CCountingHandler handler;
    ThreadLogData.Get().Handler = &handler;
    for (int i = 0, n = _wtoi(argv[2]); i < n; ++i)
        ShowMessage(argv[3], MB_OK);
    ThreadLogData.Get().Handler = nullptr;
    return handler.shown;
}
