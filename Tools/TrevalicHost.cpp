// A small host that loads Trevalic.dll as the managed host does and prints what it exports.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

using NumberOfMessagesFn = int (*)();
using GetMessageNameFn = const wchar_t* (*)(int);
using GetResourceIDFn = unsigned int (*)(const wchar_t*);

// Console output in UTF-8, so that texts outside ASCII survive a pipe.
void PrintUtf8(const wchar_t* text, int length)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return;
    char* buffer = new char[bytes];
    WideCharToMultiByte(CP_UTF8, 0, text, length, buffer, bytes, nullptr, nullptr);
    std::fwrite(buffer, 1, bytes, stdout);
    delete[] buffer;
}

int ListMessages(HMODULE module)
{
    auto count = reinterpret_cast<NumberOfMessagesFn>(GetProcAddress(module, "NumberOfMessages"));
    auto name = reinterpret_cast<GetMessageNameFn>(GetProcAddress(module, "GetMessageName"));
    auto id = reinterpret_cast<GetResourceIDFn>(GetProcAddress(module, "GetResourceID"));
    if (!count || !name || !id) {
        std::fprintf(stderr, "Trevalic.dll lacks the message exports\n");
        return 1;
    }
    for (int i = 0; i < count(); ++i) {
        const wchar_t* messageName = name(i);
        unsigned int messageId = id(messageName);
        const wchar_t* text = nullptr;
        int length = LoadStringW(module, messageId, reinterpret_cast<LPWSTR>(&text), 0);
        std::printf("%u\t", messageId);
        PrintUtf8(messageName, static_cast<int>(std::wcslen(messageName)));
        std::printf("\t");
        PrintUtf8(text, length);
        std::printf("\n");
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    HMODULE module = LoadLibraryW(L"Trevalic.dll");
    if (!module) {
        std::fprintf(stderr, "Cannot load Trevalic.dll: error %lu\n", GetLastError());
        return 1;
    }
    int result = ListMessages(module);
    FreeLibrary(module);
    return result;
}
