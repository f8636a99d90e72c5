// Shared main of the test programs. GoogleTest on MinGW does not catch structured
// exceptions, so a crash would end the program with a long debugger dump; name the test instead.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

namespace {

// The runner (cmake/wine-run.sh) names a file in WINE_RUN_MARK, where the program notes how far
// it got: one that ends without a word then still tells whether it ever started.
void Mark(const char* stage)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"WINE_RUN_MARK", path, MAX_PATH);
    const HANDLE file =
        length == 0 || length >= MAX_PATH ? INVALID_HANDLE_VALUE : CreateFileW(path, FILE_APPEND_DATA, 7, nullptr, OPEN_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE)
        WriteFile(file, stage, DWORD(std::strlen(stage)), &written, nullptr), CloseHandle(file);
}

// Built before any other static object of the program, the framework's included.
struct CFirstInitialiser {
    CFirstInitialiser() { Mark("initialisers "); }
};
__attribute__((init_priority(101))) CFirstInitialiser FirstInitialiser;

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* e)
{
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::fprintf(stderr, "FATAL: exception 0x%08lx in %s.%s\n", e->ExceptionRecord->ExceptionCode, test ? test->test_suite_name() : "?",
                 test ? test->name() : "?");
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // Into a pipe the runtime buffers the whole output; a program that ends abruptly would then
    // fail with no word of how far it got.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    Mark("main ");
    SetUnhandledExceptionFilter(ReportCrash);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
