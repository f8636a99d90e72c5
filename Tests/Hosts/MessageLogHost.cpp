// A process for the message-log tests. Arguments: the text of the machine setting
// "WriteMessageLog" ("-": absent), a count and a text. Shows the text that many times through a
// handler of its own and exits with the number of displays; the log lands beside this program.
#include <windows.h>

#include <cwchar>
#include <string>

#include "MessageHandlers.h"
#include "ThreadData.h"

using namespace Zelkor;

namespace {
struct CAnsweringHandler : CMessageHandler {
    int32_t Show(HWND, const wchar_t*, const wchar_t*, uint32_t) override { return IDOK; }
};
} // namespace

int wmain(int, wchar_t** argv)
{
    // A key of this process under HKEY_CURRENT_USER stands in for HKEY_LOCAL_MACHINE.
    const std::wstring machineKey = L"Software\\ZelkorTests\\MessageLogHost-" + std::to_wstring(GetCurrentProcessId());
    HKEY machine = nullptr;
    if (RegCreateKeyW(HKEY_CURRENT_USER, machineKey.c_str(), &machine) != ERROR_SUCCESS ||
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine) != ERROR_SUCCESS)
        return -2;
    if (std::wcscmp(argv[1], L"-") != 0)
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Quorell\\Zelkor", L"WriteMessageLog", REG_SZ, argv[1],
                        DWORD((std::wcslen(argv[1]) + 1) * sizeof(wchar_t)));
    CAnsweringHandler handler;
    ThreadLogData.Get().Handler = &handler;
    int shown = 0;
    for (int i = 0, n = _wtoi(argv[2]); i < n; ++i)
        shown += ShowMessage(argv[3], MB_OK) == IDOK;
    ThreadLogData.Get().Handler = nullptr;
    RegDeleteTreeW(HKEY_CURRENT_USER, machineKey.c_str());
    return shown;
}
