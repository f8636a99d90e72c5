// Exceptions, their texts and the failure operations. Message texts come from Trevalic.dll,
// registered as a resource module. Displays are captured through the facility's test seam, so
// nothing is ever shown.
#include "Errors.h"
#include "MessageName.h"
#include "ResourceInfo.h"
#include "TestSupport.h"
#include "ThreadData.h"

using namespace Zelkor;

namespace {

CMessageName MissingMessage(L"ERR_TEST_IN_NO_MODULE");

// One display as "flags text".
std::wstring Shown(uint32_t flags, const std::wstring& text)
{
    return std::to_wstring(flags) + L" " + text;
}

std::vector<std::wstring> ShownMessages;

int32_t CaptureShow(const wchar_t* text, uint32_t flags)
{
    ShownMessages.push_back(Shown(flags, text));
    return IDOK;
}

// The system's own text of a code, inserts left as they stand.
std::wstring SystemText(uint32_t code)
{
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text = n && buffer ? std::wstring(buffer) : std::wstring();
    LocalFree(buffer);
    return text;
}

class Errors : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterResourceModule(LoadLibraryW(L"Trevalic.dll")); }
    void SetUp() override
    {
        ShownMessages.clear(), ErrorsInternal::SetShowMessageHookForTest(CaptureShow);
        ErrorsInternal::ResetInternalErrorCountForTest();
    }
    void TearDown() override { ZelkorThreadData.Get() = CZelkorThreadData(), ErrorsInternal::SetShowMessageHookForTest(nullptr); }
};

// The system codes of each kind, and the kind's text, as documented; every code up to 1200 that
// no row lists is Generic, like a code the system has no text for.
TEST_F(Errors, FileExceptionKindsAndTexts)
{
    const CUnicodeString name(L"C:\\a.txt");
    using K = FileErrorKind;
    // clang-format off
    const struct { FileErrorKind kind; std::vector<uint32_t> codes; const wchar_t* text; } kinds[] = {
        {K::NotFound, {2, 6, 18, 107}, L"C:\\a.txt was not found."},
        {K::BadPath, {3, 15, 17, 34, 52, 53, 55, 67, 70, 85, 111, 123, 124, 125, 144, 154, 161, 206, 208, 267}, L"C:\\a.txt contains an invalid path."},
        {K::TooManyOpenFiles, {4, 36, 68, 113}, L"C:\\a.txt could not be opened because there are too many open files."},
        {K::AccessDenied, {5, 12, 19, 29, 54, 58, 64, 65, 71, 80, 82, 86, 170, 999}, L"Access to C:\\a.txt was denied."},
        {K::InvalidFile, {11, 26, 60, 66, 114, 182, 191, 193}, L"An invalid file handle was associated with C:\\a.txt."},
        {K::RemoveCurrentDir, {16}, L"C:\\a.txt could not be removed because it is the current directory."},
        {K::DirectoryFull, {62}, L"C:\\a.txt could not be created because the directory is full."},
        {K::BadSeek, {24, 25, 27, 30, 131, 132}, L"Seek failed on C:\\a.txt."},
        {K::HardIO, {20, 21, 22, 23, 57, 59, 88, 117, 995, 996, 997}, L"A hardware I/O error was reported while accessing C:\\a.txt."},
        {K::SharingViolation, {32}, L"A sharing violation occurred while accessing C:\\a.txt."},
        {K::LockViolation, {33, 108, 167}, L"A locking violation occurred while accessing C:\\a.txt."},
        {K::DiskFull, {39, 112}, L"Disk full while accessing C:\\a.txt."},
        {K::EndOfFile, {38}, L"An attempt was made to access C:\\a.txt past its end."},
        {K::AlreadyExists, {183}, L"Cannot create C:\\a.txt. The specified file already exists."},
        {K::DirNotEmpty, {145}, L"C:\\a.txt could not be removed because it is not empty."},
    };
    // clang-format on
    std::vector<FileErrorKind> expected(1200, K::Generic);
    for (const auto& row : kinds) {
        for (uint32_t code : row.codes)
            expected[code] = row.kind;
        EXPECT_EQ(W(CFileException(row.kind, name).GetMessageText()), row.text);
    }
    for (uint32_t code = 1; code < expected.size(); ++code)
        EXPECT_EQ(static_cast<uint32_t>(KindFromSystemError(code)), static_cast<uint32_t>(expected[code])) << "code " << code;
    EXPECT_EQ(W(CFileException(0x2000ABCD, name).GetMessageText()), // the customer bit, no text
              L"An error occurred while accessing C:\\a.txt: \nUnknown error. Error code: 0x2000abcd");
    // Beyond the last kind: the generic text, with that of code 0.
    EXPECT_EQ(W(CFileException(static_cast<FileErrorKind>(17), name).GetMessageText()),
              L"An error occurred while accessing C:\\a.txt: \nUnknown error. Error code: 0x0");
    // Kind None and code 0 are internal errors.
    CFileException none(FileErrorKind::None, name);
    EXPECT_TRUE(ReportsAt(CheckSite::FileExceptionWithoutKind, [&] { none.GetMessageText(); }));
    EXPECT_TRUE(ReportsAt(CheckSite::FileErrorKindOfSuccess, [] { KindFromSystemError(0); }));
}

TEST_F(Errors, MessageAndFailureTexts)
{
    // A text with an insert is the system's text with the insert left in, not "Unknown error";
    // it is the text of a last-error exception.
    ASSERT_NE(SystemText(193).find(L"%1"), std::wstring::npos);
    EXPECT_EQ(W(CLastErrorException(193).GetMessageText()), SystemText(193));

    const CUnicodeString params[3] = {L"C:\\a.txt", L"", L"b"};
    EXPECT_EQ(W(FormatMessageText(MissingMessage, params, 3)), L"ERR_TEST_IN_NO_MODULE C:\\a.txt  b");
    // Without parameters the count is taken as none.
    EXPECT_EQ(W(FormatMessageText(MissingMessage, nullptr, 3)), L"ERR_TEST_IN_NO_MODULE");
    EXPECT_FALSE(MessageExists(MissingMessage));
    EXPECT_EQ(W(LoadMessageOrName(MissingMessage)), L"ERR_TEST_IN_NO_MODULE");
    EXPECT_EQ(W(LoadMessageOrName(Messages::ERR_FILE_NOT_FOUND)), L"%0 was not found.");

    // The text of a check exception fills %0; the other parameters are kept all the same.
    CCheckException* e = Catch<CCheckException>(
        [] { ThrowCheckException(Messages::ERR_CANT_WRITE_TO_REGISTRY, CUnicodeString(L"HKEY_X\\a"), CUnicodeString(L"p1")); });
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(W(e->GetMessageText()), L"Access to the Windows registry key HKEY_X\\a is prohibited.");
    EXPECT_EQ(W(e->GetParam(1)), L"p1");
    delete e;

    EXPECT_EQ(W(CInternalError(FailureKind::PresumeLastError, L"Src/A", 0, 0xDEADBEEF).GetMessageText()),
              L"Internal Program Error:\nSrc/A, 0.\nError code: 0xdeadbeef");
    EXPECT_EQ(W(BuildFailureText(FailureKind::PresumeLastError, L"", L"", L"a.cpp", 12, 5)),
              L"Internal Program Error:\nPresumption failed: (  )\na.cpp, 12.\n(  ).\nError code: 0x5 - " + SystemText(5));

    EXPECT_TRUE(ReportsAt(CheckSite::FailureKindUnknown, [] { BuildFailureText(static_cast<FailureKind>(4), L"", L"", L"a.cpp", 1, 0); }));
}

// A reporting scope raises on the default memory manager and gives the thread's own back. On a
// thread that suppresses exceptions failures are shown instead; memory and file exceptions are
// thrown all the same. Internal errors offer Cancel from the third report on.
TEST_F(Errors, FailuresRaisedShownAndReported)
{
    SetCurrentMemoryManager(&PageMemoryManager);
    {
        CErrorScope reporting(CErrorScope::Reporting);
        EXPECT_EQ(GetCurrentMemoryManager(), static_cast<IMemoryManager*>(&DefaultMemoryManager));
        // Building an exception while a failure is reported is no double failure.
        delete Catch<CInternalError>([] { GenerateInternalError(FailureKind::Assert, L"", L"", L"Src/C", 1, 0); });
    }
    EXPECT_EQ(GetCurrentMemoryManager(), static_cast<IMemoryManager*>(&PageMemoryManager));
    SetCurrentMemoryManager(nullptr);
    // A scope that left the reporting mark set would end the process at the first failure shown.
    ZelkorThreadData.Get().SuppressExceptions = true;
    EXPECT_FALSE(GenerateInternalError(FailureKind::Assert, L"F", L"x > 0", L"a.cpp", -1, 0));
    ThrowLastErrorException(5);
    ThrowCheckException(Messages::ERR_CANT_WRITE_TO_REGISTRY, CUnicodeString(L"K"), CUnicodeString(L"unused"));
    EXPECT_TRUE(ZelkorThreadData.Get().ErrorShown);
    delete Catch<CFileException>([] { ThrowFileException(2, CUnicodeString(L"f")); });
    delete Catch<CFileException>([] { ThrowFileExceptionOfKind(FileErrorKind::DiskFull, CUnicodeString(L"f")); });
    delete Catch<CMemoryException>([] { ThrowMemoryException(); });
    CInternalError e(FailureKind::Assert, L"Src/A", 1, 0);
    for (int i = 0; i < 3; ++i)
        e.Report();
    CFileException(FileErrorKind::NotFound, CUnicodeString(L"f")).Report();
    const std::wstring reported = L"Internal Program Error:\nSrc/A, 1.";
    EXPECT_EQ(ShownMessages,
              (std::vector<std::wstring>{Shown(0x1010, L"Internal Program Error:\nAssertion failed: ( x > 0 )\na.cpp, -1.\n( F )."),
                                         Shown(0x1010, SystemText(5)),
                                         Shown(0x1010, L"Access to the Windows registry key K is prohibited."), Shown(0x1010, reported),
                                         Shown(0x1010, reported), Shown(0x1011, reported), Shown(0, L"f was not found.")}));
}

TEST_F(Errors, StopModes)
{
    // Whole names in any case, else the default.
    EXPECT_EQ(StopModeFromText(L"Alway", StopMode::Debug), StopMode::Debug);

    // Read from the user's settings, here in a key of this process alone (a trap would end the
    // others). A failure stops at a breakpoint when its mode is always, or debug under a debugger,
    // which there is none of here: the assert's mode for an internal error, the error's for the
    // others.
    CScratchKey user{L"ZelkorErrorsTest"};
    ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, user.key), 0);
    const wchar_t* const settings = L"Software\\Quorell\\Zelkor";
    for (const auto& [assertText, errorText, assertMode, errorMode, stops] :
         {std::tuple{L"NEVER", L"debug", StopMode::Never, StopMode::Debug, L"|"},
          {L"always", L"Never", StopMode::Always, StopMode::Never, L"<stop>|"},
          {L"Debug", L"ALWAYS", StopMode::Debug, StopMode::Always, L"|<stop><stop>"}}) {
        RegSetKeyValueW(HKEY_CURRENT_USER, settings, L"AssertStopMode", REG_SZ, assertText, DWORD(2 * wcslen(assertText) + 2));
        RegSetKeyValueW(HKEY_CURRENT_USER, settings, L"ErrorStopMode", REG_SZ, errorText, DWORD(2 * wcslen(errorText) + 2));
        ErrorsInternal::ResetStopModesForTest();
        EXPECT_EQ(std::pair(GetAssertStopMode(), GetErrorStopMode()), std::pair(assertMode, errorMode));
        EXPECT_EQ(DebugOutputOf([] { ShownWhenSuppressed([] { ReportFailedCheck(ZELKOR_HERE(L"Src/A")); }); }) + L"|" + DebugOutputOf([] {
                      ShownWhenSuppressed([] { ThrowLastErrorException(5), ThrowCheckException(MissingMessage, L"", L""); });
                  }),
                  stops)
            << assertText;
    }
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr), ErrorsInternal::ResetStopModesForTest();
}

// A slot given back serves again, else the reserve ends the process. Giving back a free slot, or
// a block inside one, is an internal error.
TEST_F(Errors, MemoryExceptionReserveAndBadReleases)
{
    std::vector<CMemoryException*> live;
    for (int i = 0; i < 64; ++i)
        live.push_back(new CMemoryException());
    delete live[10];
    live[10] = new CMemoryException();
    EXPECT_EQ(W(live[0]->GetMessageText()), L"Not enough memory!");
    for (CMemoryException* e : live)
        delete e;
    ZelkorThreadData.Get().SuppressExceptions = true; // shown instead of thrown, so the report reaches the capture
    CMemoryException::operator delete(live[0]);
    // Through a volatile copy, so the compiler does not object to the deliberate misuse.
    void* volatile inside = reinterpret_cast<char*>(live[0]) + 1;
    CMemoryException::operator delete(inside), CMemoryException::operator delete(nullptr);
    ASSERT_EQ(ShownMessages.size(), 2u);
    // As a failure message shows a site: "Src/Errors, 474."
    const auto shown = [](const CCheckSite& site) { return std::wstring(site.sourcePath) + L", " + std::to_wstring(site.line) + L"."; };
    EXPECT_NE(ShownMessages[0].find(shown(CheckSite::ExceptionReserveFreeSlotGivenBack)), std::wstring::npos);
    EXPECT_NE(ShownMessages[1].find(shown(CheckSite::ExceptionReserveForeignBlock)), std::wstring::npos);
}

} // namespace
