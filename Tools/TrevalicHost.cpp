// A small host that loads Trevalic.dll as the managed host does and prints what it exports.
// --messages lists the messages of the message module: id, name and English text per line.
#include <windows.h>

#include <cstdio>
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

int ListMessages(HMODULE module)
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

// What the host can print; the first command is the default when no option is given.
struct Command {
    const wchar_t* Option;
    int (*Run)(HMODULE module);
};

const Command Commands[] = {
    {L"--messages", ListMessages},
};

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const Command* command = &Commands[0];
    if (argc > 1) {
        command = nullptr;
        for (const Command& c : Commands)
            if (std::wcscmp(argv[1], c.Option) == 0)
                command = &c;
        if (!command) {
            std::fprintf(stderr, "usage: TrevalicHost");
            for (const Command& c : Commands)
                std::fprintf(stderr, " [%ls]", c.Option);
            std::fprintf(stderr, "\n");
            return 2;
        }
    }
    HMODULE module = LoadLibraryW(L"Trevalic.dll");
    if (!module) {
        std::fprintf(stderr, "Cannot load Trevalic.dll: error %lu\n", GetLastError());
        return 1;
    }
    int result = command->Run(module);
    FreeLibrary(module);
    return result;
}
