// A process for the message-display tests: shows "a", line feed, "b" and exits with the
// number of the handler that took it (1 message box, 2 console, 3 event log, 0 none).
// With the argument "atexit" it shows "after" again once the handlers are destroyed.
#include <windows.h>

#include <cwchar>

#include "MessageHandlers.h"
#include "StartupOrder.h"

using namespace Zelkor;

namespace {

struct CShowAfterHandlers {
    bool Enabled = false;
    ~CShowAfterHandlers()
    {
        if (Enabled)
            ShowMessage(L"after", MB_OK);
    }
};

// Built before the handlers, so destroyed after them.
ZELKOR_INIT(ZELKOR_ROW_SERVICES - 1) CShowAfterHandlers ShowAfterHandlers;

} // namespace

int wmain(int argc, wchar_t** argv)
{
    ShowAfterHandlers.Enabled = argc > 1 && std::wcscmp(argv[1], L"atexit") == 0;
    ShowMessage(L"a\nb", MB_OK);
    CMessageHandler* handler = GetMessageHandler();
    if (handler == &EventLogMessageHandler)
        return 3;
    if (handler == &ConsoleMessageHandler)
        return 2;
    return handler == &MessageBoxHandler ? 1 : 0;
}
