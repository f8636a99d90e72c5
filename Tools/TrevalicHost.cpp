// A small host that loads Trevalic.dll as the managed host does and prints what it exports.
// --messages lists the messages of the message module: id, name and English text per line.
#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

using NumberOfMessagesFn = int (*)();
using GetMessageNameFn = const wchar_t* (*)(int);
using GetResourceIDFn = unsigned int (*)(const wchar_t*);

// FARPROC has no arguments; going through void* tells the compiler the cast is meant.
template <class Function>
Function GetExport(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

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

int ListMessages(HMODULE module, const wchar_t*)
{
    auto count = GetExport<NumberOfMessagesFn>(module, "NumberOfMessages");
    auto name = GetExport<GetMessageNameFn>(module, "GetMessageName");
    auto id = GetExport<GetResourceIDFn>(module, "GetResourceID");
    if (!count || !name || !id) {
        std::fprintf(stderr, "Trevalic.dll lacks the message exports\n");
        return 1;
    }
    for (int i = 0; i < count(); ++i) {
        const wchar_t* messageName = name(i);
        if (!messageName) {
            std::fprintf(stderr, "GetMessageName(%d) returned null\n", i);
            return 1;
        }
        unsigned int messageId = id(messageName);
        const wchar_t* text = nullptr;
        int length = LoadStringW(module, messageId, reinterpret_cast<LPWSTR>(&text), 0);
        std::printf("%u\t", messageId);
        PrintUtf8(messageName, static_cast<int>(std::wcslen(messageName)));
        std::printf("\t");
        // One line per message: line feeds inside a text are shown as \n.
        for (int start = 0, end = 0; end <= length; ++end) {
            if (end == length || text[end] == L'\n') {
                PrintUtf8(text + start, end - start);
                if (end < length)
                    std::printf("\\n");
                start = end + 1;
            }
        }
        std::printf("\n");
    }
    return 0;
}

using GetProvidersListFn = bool (*)(int32_t, wchar_t*, size_t*);
using GetTrevalicListJsonFn = BSTR (*)();

// The provider list document through the buffer protocol: size query, then the exact buffer.
int PrintProviderList(HMODULE module, const wchar_t* providerType)
{
    auto list = reinterpret_cast<GetProvidersListFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, "GetProvidersList")));
    if (!list) {
        std::fprintf(stderr, "Trevalic.dll lacks GetProvidersList\n");
        return 1;
    }
    wchar_t* end = nullptr;
    const long type = std::wcstol(providerType, &end, 10);
    if (end == providerType || *end) {
        std::fprintf(stderr, "not a provider type: %ls\n", providerType);
        return 2;
    }
    size_t count = 0;
    if (list(static_cast<int32_t>(type), nullptr, &count) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        std::fprintf(stderr, "GetProvidersList(%ld): error %lu\n", type, GetLastError());
        return 1;
    }
    wchar_t* buffer = new wchar_t[count];
    const bool filled = list(static_cast<int32_t>(type), buffer, &count);
    const DWORD error = GetLastError();
    if (filled)
        PrintUtf8(buffer, static_cast<int>(count - 1));
    delete[] buffer;
    if (!filled) {
        std::fprintf(stderr, "GetProvidersList(%ld): error %lu\n", type, error);
        return 1;
    }
    std::printf("\n");
    return 0;
}

// The document as the managed host receives it: a system string it frees itself.
int PrintProviderListJson(HMODULE module, const wchar_t*)
{
    auto listJson = reinterpret_cast<GetTrevalicListJsonFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, "GetTrevalicListJson")));
    if (!listJson) {
        std::fprintf(stderr, "Trevalic.dll lacks GetTrevalicListJson\n");
        return 1;
    }
    BSTR text = listJson();
    if (!text) {
        std::fprintf(stderr, "GetTrevalicListJson returned null\n");
        return 1;
    }
    PrintUtf8(text, static_cast<int>(SysStringLen(text)));
    std::printf("\n");
    SysFreeString(text);
    return 0;
}

// What the host can print; without an option it prints the whole provider list document.
struct Command {
    const wchar_t* Option;
    const wchar_t* Argument; // the name of the option's argument, or null
    int (*Run)(HMODULE module, const wchar_t* argument);
};

const Command Commands[] = {
    {L"--type", L"N", PrintProviderList},
    {L"--bstr", nullptr, PrintProviderListJson},
    {L"--messages", nullptr, ListMessages},
};

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const Command* command = &Commands[0];
    const wchar_t* argument = L"0";
    if (argc > 1) {
        command = nullptr;
        for (const Command& c : Commands)
            if (std::wcscmp(argv[1], c.Option) == 0 && argc == (c.Argument ? 3 : 2))
                command = &c;
        if (!command) {
            std::fprintf(stderr, "usage: TrevalicHost");
            for (const Command& c : Commands)
                std::fprintf(stderr, c.Argument ? " [%ls %ls]" : " [%ls]", c.Option, c.Argument);
            std::fprintf(stderr, "\n");
            return 2;
        }
        argument = command->Argument ? argv[2] : nullptr;
    }
    HMODULE module = LoadLibraryW(L"Trevalic.dll");
    if (!module) {
        std::fprintf(stderr, "Cannot load Trevalic.dll: error %lu\n", GetLastError());
        return 1;
    }
    int result = command->Run(module, argument);
    FreeLibrary(module);
    return result;
}
