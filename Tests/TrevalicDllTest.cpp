// Loads the built Trevalic.dll the way a host does.
#include <windows.h>

#include <gtest/gtest.h>

TEST(TrevalicDll, LoadsAndUnloads)
{
    HMODULE module = LoadLibraryW(L"Trevalic.dll");
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_NE(GetProcAddress(module, "GetProvidersList"), nullptr);
    EXPECT_TRUE(FreeLibrary(module));
}
