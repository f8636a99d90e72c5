// Helpers shared by the test suites, and their common ground: the platform's declarations, the
// test framework, strings and vectors, which the suites take from here.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Alloc.h"
#include "Errors.h"
#include "File.h"
#include "ThreadData.h"

// This program's full file name.
inline std::wstring ProgramFile()
{
    wchar_t name[MAX_PATH + 1];
    return std::wstring(name, GetModuleFileNameW(nullptr, name, MAX_PATH + 1));
}

// This program's folder, with the trailing backslash.
inline std::wstring ProgramFolder()
{
    const std::wstring file = ProgramFile();
    return file.substr(0, file.find_last_of(L'\\') + 1);
}

// The export of that name of a module, as the function pointer type F; null when either is missing.
template <class F>
F ExportOf(HMODULE module, const char* name)
{
    return module ? reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name))) : nullptr;
}

// A key of this process's own below HKEY_CURRENT_USER\Software, fresh, deleted with its subkeys
// at the end. Suites whose tests CTest runs at once each take a key of their own this way.
struct CScratchKey {
    explicit CScratchKey(const std::wstring& name) : path(L"Software\\" + name + L"-" + std::to_wstring(GetCurrentProcessId()))
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    }
    ~CScratchKey()
    {
        RegCloseKey(key);
        RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    }
    const std::wstring path;
    HKEY key = nullptr;
};

// While it lives, the at-th allocation this thread makes fails as exhausted memory would (0:
// none fails); Reached() tells whether that allocation came. Other threads never fail.
class CFailingAllocation {
public:
    explicit CFailingAllocation(int64_t at)
    {
        failAt = at, made = 0, thread = GetCurrentThreadId();
        Zelkor::AllocInternal::InjectedFailureHook.store(Fails);
    }
    ~CFailingAllocation() { Zelkor::AllocInternal::InjectedFailureHook.store(nullptr); }
    CFailingAllocation(const CFailingAllocation&) = delete;
    CFailingAllocation& operator=(const CFailingAllocation&) = delete;
    static bool Reached() { return failAt > 0 && made >= failAt; }

private:
    static bool Fails() { return GetCurrentThreadId() == thread && ++made == failAt; }
    static inline int64_t failAt = 0, made = 0;
    static inline DWORD thread = 0;
};

// How many seeds a seeded differential runs: its fixed number, or ZELKOR_SEEDS of them.
inline uint64_t SeedCount(uint64_t fixed)
{
    const char* text = std::getenv("ZELKOR_SEEDS");
    return text ? std::strtoull(text, nullptr, 0) : fixed;
}

// What f sends to the debugger output, with "<stop>" for each breakpoint it reaches. Without a
// debugger the text comes as a first-chance exception, in the narrow copy that every system
// sends (some after a wide one); a vectored handler sees it before the system swallows it, and
// steps over a breakpoint before it ends the process.
template <class F>
std::wstring DebugOutputOf(F f)
{
    static std::wstring captured;
    captured.clear();
    const PVOID handler = AddVectoredExceptionHandler(1, [](EXCEPTION_POINTERS* e) -> LONG {
        const EXCEPTION_RECORD* record = e->ExceptionRecord;
        if (record->ExceptionCode == EXCEPTION_BREAKPOINT) // the one-byte int3
            return captured += L"<stop>", e->ContextRecord->Rip = DWORD64(record->ExceptionAddress) + 1, EXCEPTION_CONTINUE_EXECUTION;
        if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2) {
            const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
            captured += std::wstring(text, text + std::strlen(text));
        }
        return EXCEPTION_CONTINUE_SEARCH;
    });
    f();
    RemoveVectoredExceptionHandler(handler);
    return captured;
}

// How many failures f shows when failures are shown instead of raised, as while a module loads
// and unloads (the texts go nowhere; an exception that escapes counts as many).
template <class F>
size_t ShownWhenSuppressed(F f)
{
    static size_t shown;
    shown = 0;
    const Zelkor::CZelkorThreadData saved = Zelkor::ZelkorThreadData.Get();
    Zelkor::ZelkorThreadData.Get().SuppressExceptions = true;
    const Zelkor::ErrorsInternal::ShowMessageFunction count = [](const wchar_t*, uint32_t) { return ++shown, IDOK; };
    const auto hook = Zelkor::ErrorsInternal::SetShowMessageHookForTest(count);
    try {
        f();
    } catch (Zelkor::CException* e) {
        delete e;
        shown = 1000;
    }
    EXPECT_EQ(Zelkor::ErrorsInternal::SetShowMessageHookForTest(hook), count) << "the hook replaced";
    Zelkor::ZelkorThreadData.Get() = saved;
    return shown;
}

// Whether f raised an internal error (any other exception fails the test).
template <class F>
bool RaisesInternalError(F f)
{
    try {
        f();
    } catch (Zelkor::CException* e) {
        const bool internal = dynamic_cast<Zelkor::CInternalError*>(e) != nullptr;
        delete e;
        EXPECT_TRUE(internal) << "an exception other than an internal error";
        return internal;
    }
    return false;
}

// Runs f and returns the framework exception of class E it threw (the caller deletes it);
// anything else, or nothing thrown, fails the test and gives null.
template <class E, class F>
E* Catch(F f)
{
    try {
        f();
    } catch (Zelkor::CException* e) {
        if (E* typed = dynamic_cast<E*>(e))
            return typed;
        delete e;
        ADD_FAILURE() << "an exception of another class";
        return nullptr;
    }
    ADD_FAILURE() << "nothing thrown";
    return nullptr;
}

// The text of a framework string, for comparisons and failure messages.
inline std::wstring W(const Zelkor::CUnicodeString& s)
{
    return std::wstring(s.GetText(), s.GetLength());
}

// The platform error code of the file exception f raised: 0 when it raised nothing, 0xDEAD when
// it raised an exception of another class.
template <class F>
uint32_t ErrorOf(F f)
{
    try {
        f();
    } catch (Zelkor::CException* e) {
        const auto* fileError = dynamic_cast<Zelkor::CFileException*>(e);
        const uint32_t code = fileError ? fileError->GetErrorCode() : 0xDEAD;
        delete e;
        return code;
    }
    return 0;
}

// Runs f and tells whether it reported a failed check at site (a CInternalError with the site's
// source path and line); the error is deleted.
template <class F>
::testing::AssertionResult ReportsAt(const Zelkor::CCheckSite& site, F f)
{
    try {
        f();
    } catch (Zelkor::CException* e) {
        auto* error = dynamic_cast<Zelkor::CInternalError*>(e);
        const std::wstring where =
            error ? std::wstring(error->GetSourceFile()) + L", " + std::to_wstring(error->GetLine()) : L"another exception";
        delete e;
        if (where == std::wstring(site.sourcePath) + L", " + std::to_wstring(site.line))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "reported at " << ::testing::PrintToString(where);
    }
    return ::testing::AssertionFailure() << "nothing reported";
}

// Runs a command line to its end (a minute at most, else it is ended with exit code 99) and gives
// its exit code, or 0xFFFFFFFF when it could not start. A given output handle, inheritable,
// becomes its standard output (INVALID_HANDLE_VALUE: none); without one it keeps this program's.
inline DWORD RunProcess(std::wstring command, HANDLE output = nullptr)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (output != nullptr) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
    }
    PROCESS_INFORMATION process = {};
    DWORD code = 0xFFFFFFFF;
    if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, output != nullptr, 0, nullptr, nullptr, &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, 99);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return code;
}

// Up to size bytes of a file from offset on.
inline std::vector<unsigned char> ReadAt(Zelkor::CBaseFile* f, int64_t offset, int64_t size)
{
    std::vector<unsigned char> bytes(size_t(size), 0xEE);
    f->Seek(offset, FILE_BEGIN);
    bytes.resize(size_t(f->Read(bytes.data(), int32_t(bytes.size()))));
    return bytes;
}

// A file of either file system made or overwritten with the bytes.
inline void Put(const Zelkor::CUnicodeString& path, const std::string& bytes)
{
    Zelkor::CFile file;
    file.Open(path, Zelkor::FM_Write | Zelkor::FM_DenyAll | Zelkor::FM_Create, FILE_ATTRIBUTE_NORMAL);
    file.Write(bytes.data(), int32_t(bytes.size()));
}

// The bytes of an open file, from its start.
inline std::string ReadAll(Zelkor::CBaseFile& file)
{
    const auto bytes = ReadAt(&file, 0, file.GetLength());
    return std::string(bytes.begin(), bytes.end());
}

// A file's bytes through CFile, or "none" when there is no such file.
inline std::string Get(const Zelkor::CUnicodeString& path)
{
    if (!Zelkor::GetFileSystem(path).FileExists(path, Zelkor::FM_Exists))
        return "none";
    Zelkor::CFile file;
    file.Open(path, Zelkor::FM_Read | Zelkor::FM_DenyWrite, 0);
    return ReadAll(file);
}
