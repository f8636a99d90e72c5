// Exceptions, their texts and the failure operations. Message texts come from Trevalic.dll,
// registered as a resource module. Displays are captured through the facility's test seam, so
// nothing is ever shown. Cases that must end the process run this program again as a child
// with one disabled test selected, and check its exit code (abort gives 3).
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Errors.h"
#include "MessageName.h"
#include "ResourceInfo.h"
#include "TestSupport.h"
#include "ThreadData.h"

using namespace Zelkor;

namespace {

CMessageName MissingMessage(L"ERR_TEST_IN_NO_MODULE");

// One display as "flags text", the flags in hex.
std::wstring Shown(uint32_t flags, const std::wstring& text)
{
    wchar_t hex[16];
    return std::wstring(_ultow(flags, hex, 16)) + L" " + text;
}

std::vector<std::wstring> ShownMessages;
int32_t ShowAnswer = IDOK;

int32_t CaptureShow(const wchar_t* text, uint32_t flags)
{
    ShownMessages.push_back(Shown(flags, text));
    return ShowAnswer;
}

std::wstring Text(const CUnicodeString& s) { return s.GetText(); }

// The system's text of a code as the framework must ask for it: 0x3100 takes the inserts of a
// text that has some from an argument array.
std::wstring SystemText(uint32_t code)
{
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(0x3100, nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text = n && buffer ? std::wstring(buffer) : std::wstring();
    LocalFree(buffer);
    return text;
}

// Wine's system texts differ from Windows', and some codes have none.
std::wstring ExpectedLastErrorText(uint32_t code)
{
    wchar_t hex[16];
    return SystemText(code).empty() ? L"Unknown error. Error code: 0x" + std::wstring(_ultow(code, hex, 16)) : SystemText(code);
}

// The same program with one disabled test selected; returns its exit code.
DWORD RunChild(const wchar_t* test)
{
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(exe) + L"\" --gtest_also_run_disabled_tests --gtest_filter=" + test;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 0xFFFFFFFF;
    DWORD code = 0xFFFFFFFE;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

class Errors : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterResourceModule(LoadLibraryW(L"Trevalic.dll")); }
    void SetUp() override
    {
        ShownMessages.clear();
        ShowAnswer = IDOK;
        ErrorsInternal::SetShowMessageHookForTest(CaptureShow);
        ErrorsInternal::ResetInternalErrorCountForTest();
    }
    void TearDown() override
    {
        ZelkorThreadData.Get() = CZelkorThreadData();
        ErrorsInternal::SetShowMessageHookForTest(nullptr);
    }
    static void Suppress() { ZelkorThreadData.Get().SuppressExceptions = true; }
};

TEST_F(Errors, FileExceptionKindsAndTexts)
{
    const CUnicodeString name(L"C:\\a.txt");
    const struct { uint32_t code; FileErrorKind kind; std::wstring text; } cases[] = {
        {2, FileErrorKind::NotFound, L"C:\\a.txt was not found."},
        {267, FileErrorKind::BadPath, L"C:\\a.txt contains an invalid path."},
        {80, FileErrorKind::AccessDenied, L"Access to C:\\a.txt was denied."}, // not AlreadyExists
        {183, FileErrorKind::AlreadyExists, L"Cannot create C:\\a.txt. The specified file already exists."},
        {32, FileErrorKind::SharingViolation, L"A sharing violation occurred while accessing C:\\a.txt."},
        {145, FileErrorKind::DirNotEmpty, L"C:\\a.txt could not be removed because it is not empty."},
        {0xFFFFFFFF, FileErrorKind::Generic, L"An error occurred while accessing C:\\a.txt: \n" + ExpectedLastErrorText(0xFFFFFFFF)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        CFileException* e = Catch<CFileException>([&] { ThrowFileException(c.code, name); });
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->GetErrorCode(), c.code);
        EXPECT_EQ(e->GetKind(), c.kind);
        EXPECT_EQ(Text(e->GetMessageText()), c.text);
        delete e;
    }
    // Of a kind only: no error code. Beyond the last kind: the generic text, with that of code 0.
    CFileException* e = Catch<CFileException>([&] { ThrowFileExceptionOfKind(FileErrorKind::BadPath, name); });
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->GetErrorCode(), 0u);
    EXPECT_EQ(Text(e->GetMessageText()), L"C:\\a.txt contains an invalid path.");
    delete e;
    EXPECT_EQ(Text(CFileException(static_cast<FileErrorKind>(17), name).GetMessageText()),
              L"An error occurred while accessing C:\\a.txt: \nUnknown error. Error code: 0x0");
    // Kind None and code 0 are internal errors.
    CFileException none(FileErrorKind::None, name);
    EXPECT_TRUE(ReportsAt(CheckSite::FileExceptionWithoutKind, [&] { none.GetMessageText(); }));
    EXPECT_TRUE(ReportsAt(CheckSite::FileErrorKindOfSuccess, [] { KindFromSystemError(0); }));
}

TEST_F(Errors, LastErrorAndMessageTexts)
{
    EXPECT_EQ(Text(GetLastErrorText(0)), L"Unknown error. Error code: 0x0");
    // A text with inserts, which the system will not fill from an argument array that is not
    // there; ignoring the inserts instead would show a raw "%1".
    EXPECT_EQ(Text(GetLastErrorText(193)), ExpectedLastErrorText(193));
    EXPECT_EQ(Text(GetLastErrorText(0x2000ABCD)), L"Unknown error. Error code: 0x2000abcd"); // the customer bit
    EXPECT_EQ(Text(CLastErrorException(5).GetMessageText()), SystemText(5));

    const CUnicodeString params[3] = {L"C:\\a.txt", L"", L"b"};
    EXPECT_EQ(Text(FormatMessageText(MissingMessage, params, 0)), L"ERR_TEST_IN_NO_MODULE");
    EXPECT_EQ(Text(FormatMessageText(MissingMessage, params, 3)), L"ERR_TEST_IN_NO_MODULE C:\\a.txt  b");
    EXPECT_FALSE(MessageExists(MissingMessage));
    EXPECT_EQ(Text(LoadMessageOrName(MissingMessage)), L"ERR_TEST_IN_NO_MODULE");
    EXPECT_EQ(Text(LoadMessageOrName(Messages::ERR_FILE_NOT_FOUND)), L"%0 was not found.");

    // The text of a check exception fills %0; the other parameters are kept all the same.
    CCheckException* e = Catch<CCheckException>(
        [] { ThrowCheckException(Messages::ERR_CANT_WRITE_TO_REGISTRY, CUnicodeString(L"HKEY_X\\a"), CUnicodeString(L"p1")); });
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(Text(e->GetMessageText()), L"Access to the Windows registry key HKEY_X\\a is prohibited.");
    EXPECT_EQ(Text(e->GetParam(1)), L"p1");
    delete e;
    CCheckException missing(MissingMessage, CUnicodeString(L"p"), CUnicodeString(L"q"), CUnicodeString());
    EXPECT_EQ(Text(missing.GetMessageText()), L"ERR_TEST_IN_NO_MODULE p q "); // the empty last one after a blank
}

TEST_F(Errors, InternalErrorAndFailureTexts)
{
    EXPECT_EQ(Text(CInternalError(FailureKind::Presume, L"Src/A", -1, 7).GetMessageText()), L"Internal Program Error:\nSrc/A, -1.");
    EXPECT_EQ(Text(CInternalError(FailureKind::PresumeLastError, L"Src/A", 0, 0xDEADBEEF).GetMessageText()),
              L"Internal Program Error:\nSrc/A, 0.\nError code: 0xdeadbeef");
    const struct { FailureKind kind; const wchar_t *function, *expression; int32_t line; uint32_t code; std::wstring text; } cases[] = {
        {FailureKind::Assert, L"F", L"x > 0", -1, 0, L"Internal Program Error:\nAssertion failed: ( x > 0 )\na.cpp, -1.\n( F )."},
        {FailureKind::AssertLastError, L"", L"", 12, 5,
         L"Internal Program Error:\nAssertion failed: (  )\na.cpp, 12.\n(  ).\nError code: 0x5 - " + SystemText(5)},
        {FailureKind::PresumeLastError, L"", L"", 12, 0,
         L"Internal Program Error:\nPresumption failed: (  )\na.cpp, 12.\n(  ).\nError code: 0x0 - Unknown error. Error code: 0x0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Text(BuildFailureText(c.kind, c.function, c.expression, L"a.cpp", c.line, c.code)), c.text)
            << static_cast<int>(c.kind);

    EXPECT_TRUE(ReportsAt(CheckSite::FailureKindUnknown,
                          [] { BuildFailureText(static_cast<FailureKind>(4), L"", L"", L"a.cpp", 1, 0); }));
    Suppress();
    EXPECT_TRUE(BuildFailureText(static_cast<FailureKind>(4), L"", L"", L"a.cpp", 1, 0).IsEmpty());
    ASSERT_EQ(ShownMessages.size(), 1u);
    EXPECT_NE(ShownMessages[0].find(ShownSite(CheckSite::FailureKindUnknown)), std::wstring::npos);
}

// On a thread that suppresses exceptions failures are shown instead; memory and file exceptions
// are thrown all the same. Internal errors offer Cancel from the third report on.
TEST_F(Errors, FailuresShownAndReported)
{
    Suppress();
    EXPECT_FALSE(GenerateInternalError(FailureKind::Assert, L"", L"", L"a.cpp", 12, 0));
    ThrowLastErrorException(5);
    ThrowCheckException(Messages::ERR_CANT_WRITE_TO_REGISTRY, CUnicodeString(L"K"), CUnicodeString(L"unused"));
    EXPECT_TRUE(ZelkorThreadData.Get().ErrorShown);
    EXPECT_FALSE(ErrorInfo.Get().IsReporting);
    delete Catch<CFileException>([] { ThrowFileException(2, CUnicodeString(L"f")); });
    delete Catch<CFileException>([] { ThrowFileExceptionOfKind(FileErrorKind::DiskFull, CUnicodeString(L"f")); });
    delete Catch<CMemoryException>([] { ThrowMemoryException(); });
    CInternalError e(FailureKind::Assert, L"Src/A", 1, 0);
    for (int i = 0; i < 3; ++i)
        e.Report();
    CFileException(FileErrorKind::NotFound, CUnicodeString(L"f")).Report();
    const std::wstring reported = L"Internal Program Error:\nSrc/A, 1.";
    EXPECT_EQ(ShownMessages, (std::vector<std::wstring>{
                                 Shown(0x1010, L"Internal Program Error:\nAssertion failed: (  )\na.cpp, 12.\n(  )."),
                                 Shown(0x1010, SystemText(5)), Shown(0x1010, L"Access to the Windows registry key K is prohibited."),
                                 Shown(0x1010, reported), Shown(0x1010, reported), Shown(0x1011, reported),
                                 Shown(0, L"f was not found.")}));
}

TEST_F(Errors, ScopesRestoreTheThreadState)
{
    struct PrivateManager : IMemoryManager {
        void* Alloc(uint64_t size) override { return DefaultMemoryManager.Alloc(size); }
        void Free(void* block) override { DefaultMemoryManager.Free(block); }
    } privateManager;
    SetCurrentMemoryManager(&privateManager);
    {
        CErrorScope reporting(CErrorScope::Reporting);
        EXPECT_EQ(GetCurrentMemoryManager(), static_cast<IMemoryManager*>(&DefaultMemoryManager));
        // Building an exception while a failure is reported is no double failure.
        delete Catch<CInternalError>([] { GenerateInternalError(FailureKind::Assert, L"", L"", L"Src/C", 1, 0); });
        EXPECT_TRUE(ErrorInfo.Get().IsReporting);
    }
    EXPECT_EQ(GetCurrentMemoryManager(), static_cast<IMemoryManager*>(&privateManager));
    EXPECT_FALSE(ErrorInfo.Get().IsReporting);
    SetCurrentMemoryManager(nullptr);
    EXPECT_TRUE(ShownMessages.empty()); // thrown, never shown
}

TEST_F(Errors, StopModes)
{
    // Whole names in any case, else the default (Debug here; the settings below name the others).
    const struct { const wchar_t* text; StopMode mode; } cases[] = {
        {L"ALWAYS", StopMode::Always}, {L"", StopMode::Debug}, {L"Alway", StopMode::Debug}, {L"Never ", StopMode::Debug}};
    for (const auto& c : cases)
        EXPECT_EQ(StopModeFromText(c.text, StopMode::Debug), c.mode) << "\"" << std::wstring(c.text) << "\"";

    // Read once per process. Only modes that never trap without a debugger are written, so
    // concurrent tests in this prefix are safe whatever they read.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Quorell\\Zelkor", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    auto write = [&](const wchar_t* name, const wchar_t* value) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), DWORD(wcslen(value) + 1) * 2);
    };
    auto clear = [&] {
        RegDeleteValueW(key, L"AssertStopMode");
        RegDeleteValueW(key, L"ErrorStopMode");
        ErrorsInternal::ResetStopModesForTest();
    };
    clear();
    EXPECT_EQ(GetAssertStopMode(), StopMode::Debug); // no values: the defaults
    EXPECT_EQ(GetErrorStopMode(), StopMode::Never);
    ErrorsInternal::ResetStopModesForTest();
    write(L"AssertStopMode", L"NEVER");
    write(L"ErrorStopMode", L"debug");
    EXPECT_EQ(GetAssertStopMode(), StopMode::Never);
    EXPECT_EQ(GetErrorStopMode(), StopMode::Debug);
    write(L"AssertStopMode", L"Debug");
    EXPECT_EQ(GetAssertStopMode(), StopMode::Never);
    clear();
    RegCloseKey(key);
}

TEST_F(Errors, MemoryExceptionReserve)
{
    std::vector<CMemoryException*> live;
    for (int i = 0; i < 64; ++i)
        live.push_back(new CMemoryException());
    for (int i = 1; i < 64; ++i)
        ASSERT_LT(live[i - 1], live[i]) << "slot " << i;
    delete live[20];
    delete live[10];
    for (int i : {10, 20}) { // the lowest free slot first
        CMemoryException* again = new CMemoryException();
        EXPECT_EQ(again, live[i]);
        live[i] = again;
    }
    EXPECT_EQ(Text(live[0]->GetMessageText()), L"Not enough memory!");
    for (CMemoryException* e : live)
        delete e;
    CMemoryException* e = Catch<CMemoryException>([] { ThrowMemoryException(); });
    EXPECT_EQ(e, live[0]); // all free again: the lowest slot
    delete e;
}

TEST_F(Errors, BadReleaseIsAnInternalError)
{
    Suppress(); // shown instead of thrown, so the report reaches the capture
    // Through a volatile copy, so the compiler does not object to the deliberate misuse.
    CMemoryException* volatile e = new CMemoryException();
    delete e;
    CMemoryException::operator delete(e);
    void* volatile inside = reinterpret_cast<char*>(e) + 1; // inside a slot, not one
    CMemoryException::operator delete(inside);
    CMemoryException::operator delete(nullptr);
    ASSERT_EQ(ShownMessages.size(), 2u);
    EXPECT_NE(ShownMessages[0].find(ShownSite(CheckSite::ExceptionReserveFreeSlotGivenBack)), std::wstring::npos);
    EXPECT_NE(ShownMessages[1].find(ShownSite(CheckSite::ExceptionReserveForeignBlock)), std::wstring::npos);
}

// Each in a child; abort gives exit code 3. Cancel is offered from the third report only.
TEST_F(Errors, ProcessEndings)
{
    const struct { const wchar_t* child; DWORD exitCode; } cases[] = {
        {L"ErrorsChild.DISABLED_DoubleReporting", 3},
        {L"ErrorsChild.DISABLED_CancelThirdReport", 3},
        {L"ErrorsChild.DISABLED_CancelSecondReport", 0},
        {L"ErrorsChild.DISABLED_SixtyFiveMemoryExceptions", 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RunChild(c.child), c.exitCode) << std::wstring(c.child);
}

TEST(ErrorsChild, DISABLED_DoubleReporting)
{
    ErrorsInternal::SetShowMessageHookForTest(CaptureShow);
    CErrorScope first(CErrorScope::Reporting);
    CErrorScope second(CErrorScope::Reporting);
}

void CancelReports(int count)
{
    ErrorsInternal::SetShowMessageHookForTest(CaptureShow);
    ShowAnswer = IDCANCEL;
    CInternalError e(FailureKind::Assert, L"Src/A", 1, 0);
    for (int i = 0; i < count; ++i)
        e.Report();
}
TEST(ErrorsChild, DISABLED_CancelThirdReport) { CancelReports(3); }
TEST(ErrorsChild, DISABLED_CancelSecondReport) { CancelReports(2); }

TEST(ErrorsChild, DISABLED_SixtyFiveMemoryExceptions)
{
    for (int i = 0; i < 65; ++i)
        new CMemoryException();
}

} // namespace
