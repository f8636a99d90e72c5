// A process for the message-log tests. Arguments: the text of the machine setting
// "WriteMessageLog" ("-": absent), a count, a text and the name of an event to wait for. Shows the
// text that many times through a handler of its own and exits with the number of displays; the
// log lands beside this program.
#include <windows.h>

#include <cwchar>
#include <string>

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
    if (argc != 5)
        return -1;
    // A key of this process under HKEY_CURRENT_USER stands in for HKEY_LOCAL_MACHINE.
    const std::wstring machineKey = L"Software\\ZelkorTests\\MessageLogHost-" + std::to_wstring(GetCurrentProcessId());
    HKEY machine = nullptr, settings = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, (machineKey + L"\\Software\\Quorell\\Zelkor").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &settings, nullptr) != ERROR_SUCCESS ||
        RegOpenKeyExW(HKEY_CURRENT_USER, machineKey.c_str(), 0, KEY_READ, &machine) != ERROR_SUCCESS ||
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine) != ERROR_SUCCESS)
        return -2;
    if (std::wcscmp(argv[1], L"-") != 0)
        RegSetValueExW(settings, L"WriteMessageLog", 0, REG_SZ, reinterpret_cast<const BYTE*>(argv[1]),
                       DWORD((std::wcslen(argv[1]) + 1) * sizeof(wchar_t)));
    // All hosts of a run start writing together, so that their lines contend for the log.
    const HANDLE start = OpenEventW(SYNCHRONIZE, FALSE, argv[4]);
    if (start == nullptr || WaitForSingleObject(start, 60000) != WAIT_OBJECT_0)
        return -3;
    CloseHandle(start);
    CCountingHandler handler;
    ThreadLogData.Get().Handler = &handler;
    for (int i = 0, n = _wtoi(argv[2]); i < n; ++i)
        ShowMessage(argv[3], MB_OK);
    ThreadLogData.Get().Handler = nullptr;
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegCloseKey(machine);
    RegCloseKey(settings);
    RegDeleteTreeW(HKEY_CURRENT_USER, machineKey.c_str());
    return handler.shown;
}
