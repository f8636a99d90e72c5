// Shared main of the test programs. GoogleTest on MinGW does not catch structured
// exceptions, so a crash would end the program with a long debugger dump; name the test instead.
#include <windows.h>

#include <cstdio>

#include <gtest/gtest.h>

namespace {

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
    SetUnhandledExceptionFilter(ReportCrash);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
