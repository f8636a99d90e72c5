// A process for the message-display tests: shows "a", line feed, "b" and exits with the
// number of the handler that took it (1 message box, 2 console, 3 event log, 4 none).
// With the argument "atexit" it shows "after" again once the handlers are destroyed; with "quiet"
// it shows nothing before, so no handler was ever chosen, and exits with 0; with "double" it
// fails while it reports a failure, which ends it.
#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "Errors.h"
#include "MessageHandlers.h"
#include "StartupOrder.h"

using namespace Zelkor;

namespace {

struct CShowAfterHandlers {
    ~CShowAfterHandlers()
    {
        if (std::wcsstr(GetCommandLineW(), L" atexit"))
            ShowMessage(L"after", MB_OK);
    }
};

// Built before the handlers, so destroyed after them.
ZELKOR_INIT(ZELKOR_ROW_SERVICES - 1) CShowAfterHandlers ShowAfterHandlers;

} // namespace

int wmain()
{
    if (std::wcsstr(GetCommandLineW(), L" quiet"))
        return 0;
    if (std::wcsstr(GetCommandLineW(), L" double")) // the second scope opens while the first is alive
        (void)CErrorScope(CErrorScope::Reporting), CErrorScope(CErrorScope::Reporting);
    // A handler that is none of the static ones goes, before the choice and after it, taking nothing with it.
    (void)CMessageBoxHandler();
    ShowMessage(L"a\nb", MB_OK), (void)CMessageBoxHandler();
    const CMessageHandler* const handlers[] = {&MessageBoxHandler, &ConsoleMessageHandler, &EventLogMessageHandler};
    return int(std::find(handlers, handlers + 3, GetMessageHandler()) - handlers) + 1;
}
