// Placeholder exports of the message module.
#include <windows.h>

extern "C" {
int __ZelkorUsed = 0;
unsigned int GetResourceID(const wchar_t*) { return 0; }
int NumberOfMessages() { return 0; }
const wchar_t* GetMessageName(int) { return nullptr; }
int GetMessageSystemVersion() { return 200; }
}
