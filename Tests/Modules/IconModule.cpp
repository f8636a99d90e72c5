// A module with icons but no message lookup export.
#include <windows.h>

extern "C" __declspec(dllexport) int IconModuleVersion()
{
    return 1;
}
