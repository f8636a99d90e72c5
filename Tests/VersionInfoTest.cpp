// Version resources. Reading a value that is there is covered by the choice of the message
// handler, whose test hosts carry one; here the files and names that must give nothing.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "VersionInfo.h"

using namespace Zelkor;

TEST(VersionInfo, NothingToReadGivesEmptyValues)
{
    wchar_t exe[MAX_PATH];
    const std::wstring self(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH));
    const std::wstring library = self.substr(0, self.find_last_of(L'\\') + 1) + L"Trevalic.dll";
    const std::wstring missing = library + L"x";
    // This program has no version resource; the others cannot be read at all.
    for (const wchar_t* path : {self.c_str(), missing.c_str(), L"", static_cast<const wchar_t*>(nullptr)}) {
        CVersionInfo info(path);
        EXPECT_FALSE(info.IsValid()) << (path ? path : L"(null)");
        EXPECT_TRUE(info.GetStringValue(L"FileVersion").IsEmpty()) << (path ? path : L"(null)");
    }
    CVersionInfo info(library.c_str());
    ASSERT_TRUE(info.IsValid());
    EXPECT_TRUE(info.GetStringValue(L"").IsEmpty() && info.GetStringValue(nullptr).IsEmpty());
}
