// Version resources. Reading a value that is there is covered by the choice of the message
// handler, whose test hosts carry one; here the files and names that must give nothing.
#include "TestSupport.h"
#include "VersionInfo.h"

using namespace Zelkor;

TEST(VersionInfo, NothingToReadGivesEmptyValues)
{
    const std::wstring self = ProgramFile(), library = ProgramFolder() + L"Trevalic.dll", missing = library + L"x";
    // This program has no version resource; the others cannot be read at all.
    for (const wchar_t* path : {self.c_str(), missing.c_str(), static_cast<const wchar_t*>(nullptr)})
        EXPECT_TRUE(CVersionInfo(path).GetStringValue(L"FileVersion").IsEmpty()) << (path ? path : L"(null)");
    CVersionInfo info(library.c_str());
    ASSERT_TRUE(info.IsValid());
    EXPECT_TRUE(info.GetStringValue(L"").IsEmpty() && info.GetStringValue(nullptr).IsEmpty());
}

// On each side of the version the platform runs as.
TEST(VersionInfo, WindowsVersionAtLeast)
{
    OSVERSIONINFOW running = {};
    running.dwOSVersionInfoSize = sizeof running;
    ASSERT_TRUE(GetVersionExW(&running));
    const DWORD major = running.dwMajorVersion, minor = running.dwMinorVersion;
    EXPECT_TRUE(IsWindowsVersionAtLeast(major, minor));
    EXPECT_TRUE(IsWindowsVersionAtLeast(major - 1, minor + 1));
    EXPECT_FALSE(IsWindowsVersionAtLeast(major, minor + 1));
    EXPECT_FALSE(IsWindowsVersionAtLeast(major + 1, 0));
}
