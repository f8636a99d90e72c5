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
