// Version resources. Reading a value that is there is covered by the choice of the message
// handler, whose test hosts carry one; here the files and names that must give nothing.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "VersionInfo.h"

using namespace Zelkor;

TEST(VersionInfo, NothingToReadGivesEmptyValues)
{
    const std::wstring self = ProgramFile(), library = ProgramFolder() + L"Trevalic.dll", missing = library + L"x";
    // This program has no version resource; the others cannot be read at all.
    for (const wchar_t* path : {self.c_str(), missing.c_str(), L"", static_cast<const wchar_t*>(nullptr)}) {
        CVersionInfo info(path);
        EXPECT_FALSE(info.IsValid()) << (path ? path : L"(null)");
        EXPECT_TRUE(info.GetStringValue(L"FileVersion").IsEmpty()) << (path ? path : L"(null)");
    }
    CVersionInfo info(library.c_str());
    ASSERT_TRUE(info.IsValid());
    EXPECT_TRUE(info.GetStringValue(L"").IsEmpty());
    EXPECT_TRUE(info.GetStringValue(nullptr).IsEmpty());
}

// The platform's own comparison is the reference, on each side of the version it runs as.
TEST(VersionInfo, WindowsVersionAtLeastAgreesWithThePlatform)
{
    OSVERSIONINFOEXW running = {};
    running.dwOSVersionInfoSize = sizeof running;
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&running)));
    const DWORDLONG atLeast =
        VerSetConditionMask(VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL), VER_MINORVERSION, VER_GREATER_EQUAL);
    for (DWORD major : {running.dwMajorVersion - 1, running.dwMajorVersion, running.dwMajorVersion + 1})
        for (DWORD minor : {DWORD(0), running.dwMinorVersion, running.dwMinorVersion + 1}) {
            OSVERSIONINFOEXW asked = {};
            asked.dwOSVersionInfoSize = sizeof asked, asked.dwMajorVersion = major, asked.dwMinorVersion = minor;
            EXPECT_EQ(IsWindowsVersionAtLeast(major, minor),
                      VerifyVersionInfoW(&asked, VER_MAJORVERSION | VER_MINORVERSION, atLeast) != FALSE)
                << major << "." << minor;
        }
}
