// Registry keys against the real registry of the test prefix. Each test works below a key of
// its own under HKEY_CURRENT_USER and removes it afterwards. Values are written with
// RegSetValueExW and exact byte counts; a non-NUL unit follows the data, because the platform
// appends a terminator itself when the unit after the data is NUL.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Errors.h"
#include "MessageName.h"
#include "RegistryKey.h"
#include "ResourceInfo.h"
#include "TestSupport.h"
#include "ThreadData.h"

using namespace Zelkor;

namespace {

std::wstring Text(const CUnicodeString& s)
{
    return std::wstring(s.GetText(), s.GetLength());
}

void ExpectInternalError(int32_t line, const std::function<void()>& f)
{
    CInternalError* e = Catch<CInternalError>(f);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(std::wstring(e->GetSourceFile()), L"Src/RegistryKey");
    EXPECT_EQ(e->GetLine(), line);
    delete e;
}

class RegistryKeyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        HMODULE messages = LoadLibraryW(L"Trevalic.dll");
        ASSERT_NE(messages, nullptr);
        RegisterResourceModule(messages);
    }

    void SetUp() override
    {
        path = L"Software\\ZelkorRegistryKeyTest" + std::to_wstring(GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw,
                                  nullptr),
                  ERROR_SUCCESS);
    }

    void TearDown() override
    {
        RegCloseKey(raw);
        RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    }

    // Exactly byteCount bytes of data, whatever follows them.
    void WriteRaw(const wchar_t* name, DWORD type, const std::wstring& units, DWORD byteCount)
    {
        std::vector<wchar_t> buffer(units.begin(), units.end());
        buffer.push_back(L'#'); // the sentinel
        buffer.push_back(L'#');
        ASSERT_EQ(RegSetValueExW(raw, name, 0, type, reinterpret_cast<const BYTE*>(buffer.data()), byteCount),
                  ERROR_SUCCESS);
    }

    std::wstring path;
    HKEY raw = nullptr;
};

TEST_F(RegistryKeyTest, NamesAndOpenResults)
{
    const struct {
        HKEY root;
        std::wstring path;
        uint32_t mode;
        bool opens;
        std::wstring name;
    } cases[] = {
        {HKEY_CURRENT_USER, path, CRegistryKey::Read, true, L"HKEY_CURRENT_USER\\" + path},
        {HKEY_CURRENT_USER, path + L"\\Missing", CRegistryKey::Read, false, L"HKEY_CURRENT_USER\\" + path + L"\\Missing"},
        {HKEY_CURRENT_USER, L"", CRegistryKey::Read, true, L"HKEY_CURRENT_USER"},
        {HKEY_LOCAL_MACHINE, L"Software", CRegistryKey::Read, true, L"HKEY_LOCAL_MACHINE\\Software"},
        {HKEY_CURRENT_USER, L"", CRegistryKey::Write, true, L"HKEY_CURRENT_USER"},
        {HKEY_CURRENT_USER, path + L"\\New\\Deeper", CRegistryKey::Write, true,
         L"HKEY_CURRENT_USER\\" + path + L"\\New\\Deeper"},
        {reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234)), L"a\\b", CRegistryKey::Read, false, L"\\a\\b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CRegistryKey key;
        SetLastError(0xBAD);
        EXPECT_EQ(key.Open(c.root, c.path.c_str(), c.mode), c.opens);
        EXPECT_EQ(GetLastError() == ERROR_SUCCESS, c.opens);
        EXPECT_EQ(key.GetHandle() != nullptr, c.opens);
        EXPECT_EQ(key.GetMode(), c.mode);
        EXPECT_EQ(Text(key.GetName()), c.name);
        key.Close();
        EXPECT_EQ(key.GetMode(), static_cast<uint32_t>(CRegistryKey::Closed));
        EXPECT_TRUE(key.GetName().IsEmpty());
        EXPECT_EQ(key.GetHandle(), nullptr);
    }
    HKEY created = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (path + L"\\New\\Deeper").c_str(), 0, KEY_READ, &created),
              ERROR_SUCCESS);
    RegCloseKey(created);
}

TEST_F(RegistryKeyTest, StringValues)
{
    const std::wstring hundred(100, L'h');
    const std::wstring sixtyThree(63, L's');
    const std::wstring sixtyFour(64, L'q');
    const std::wstring long1000(1000, L'l');
    WriteRaw(L"Hundred", REG_SZ, hundred + L'\0', 202);
    WriteRaw(L"SixtyThree", REG_SZ, sixtyThree + L'\0', 128);
    WriteRaw(L"SixtyThreeBare", REG_SZ, sixtyThree, 126);
    WriteRaw(L"SixtyFourBare", REG_SZ, sixtyFour, 128);
    WriteRaw(L"LongBare", REG_SZ, long1000, 2000);
    WriteRaw(L"Bare", REG_SZ, L"ABC", 6);
    WriteRaw(L"Inner", REG_SZ, std::wstring(L"AB\0CD\0", 6), 12);
    WriteRaw(L"Expand", REG_EXPAND_SZ, std::wstring(L"%SystemRoot%\\x") + L'\0', 30);
    WriteRaw(L"Empty", REG_SZ, std::wstring(1, L'\0'), 2);
    WriteRaw(L"NoBytes", REG_SZ, L"", 0);
    WriteRaw(L"Odd", REG_SZ, L"ABC", 5);
    WriteRaw(L"Multi", REG_MULTI_SZ, std::wstring(L"a\0b\0\0", 5), 10);
    const DWORD number = 8080;
    ASSERT_EQ(RegSetValueExW(raw, L"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), ERROR_SUCCESS);

    const struct {
        const wchar_t* name;
        std::wstring expected;
    } cases[] = {
        {L"Hundred", hundred},
        {L"SixtyThree", sixtyThree},
        {L"SixtyThreeBare", sixtyThree},
        {L"SixtyFourBare", sixtyFour},
        {L"LongBare", long1000},
        {L"Bare", L"ABC"},
        {L"Inner", L"AB"},
        {L"Expand", L"%SystemRoot%\\x"},
        {L"Empty", L""},
        {L"NoBytes", L"default"},
        {L"Odd", L"default"},
        {L"Multi", L"default"},
        {L"Number", L"default"},
        {L"Missing", L"default"},
    };
    CRegistryKey key;
    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, path.c_str(), CRegistryKey::Read));
    for (const auto& c : cases)
        EXPECT_EQ(Text(key.GetStringValue(c.name, L"default")), c.expected) << std::wstring(c.name);

    CRegistryKey missing;
    EXPECT_FALSE(missing.Open(HKEY_CURRENT_USER, (path + L"\\Missing").c_str(), CRegistryKey::Read));
    EXPECT_EQ(Text(missing.GetStringValue(L"Any", L"d")), L"d");
}

TEST_F(RegistryKeyTest, WriteAndReadBack)
{
    const std::wstring value = L"C:\\dir\\file.dll";
    CRegistryKey key;
    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, (path + L"\\W").c_str(), CRegistryKey::Write));
    key.SetStringValue(L"EventMessageFile", value.c_str(), static_cast<uint32_t>((value.size() + 1) * 2));
    EXPECT_EQ(Text(key.GetStringValue(L"EventMessageFile", L"")), value);
}

TEST_F(RegistryKeyTest, WriteFailuresNameTheKey)
{
    const HKEY invalidRoot = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
    CRegistryKey unopened;
    EXPECT_FALSE(unopened.Open(invalidRoot, L"Software\\X", CRegistryKey::Write));
    CCheckException* e = Catch<CCheckException>([&] { unopened.SetStringValue(L"V", L"x", 4); });
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(&e->GetMessageName(), &Messages::ERR_CANT_WRITE_TO_REGISTRY);
    EXPECT_EQ(Text(e->GetMessageText()), L"Access to the Windows registry key \\Software\\X is prohibited.");
    delete e;

    // Opened, then the key goes away under it: the value's full name is reported.
    CRegistryKey key;
    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, (path + L"\\Gone").c_str(), CRegistryKey::Write));
    ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, (path + L"\\Gone").c_str()), ERROR_SUCCESS);
    e = Catch<CCheckException>([&] { key.SetStringValue(L"V", L"x", 4); });
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(Text(e->GetParam(0)), L"HKEY_CURRENT_USER\\" + path + L"\\Gone\\V");
    delete e;
    // Reading a deleted key is no error.
    EXPECT_EQ(Text(key.GetStringValue(L"V", L"d")), L"d");
}

TEST_F(RegistryKeyTest, MisuseIsAnInternalError)
{
    CRegistryKey key;
    ExpectInternalError(331, [&] { key.GetStringValue(L"V", L""); });
    ExpectInternalError(122, [&] { key.Open(HKEY_CURRENT_USER, nullptr, CRegistryKey::Read); });
    ExpectInternalError(154, [&] { key.Open(HKEY_CURRENT_USER, path.c_str(), 7); });
    key.Close();

    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, path.c_str(), CRegistryKey::Read));
    ExpectInternalError(120, [&] { key.Open(HKEY_CURRENT_USER, path.c_str(), CRegistryKey::Read); });
    ExpectInternalError(332, [&] { key.GetStringValue(nullptr, L""); });
    ExpectInternalError(332, [&] { key.GetStringValue(L"V", nullptr); });
    ExpectInternalError(380, [&] { key.SetStringValue(L"V", L"x", 4); });
    key.Close();
    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, path.c_str(), CRegistryKey::Write));
    ExpectInternalError(379, [&] { key.SetStringValue(L"V", nullptr, 4); });
    key.Close();

    // Shown instead of thrown, an unknown mode opens nothing and clears the last error.
    ErrorsInternal::SetShowMessageHookForTest([](const wchar_t*, uint32_t) { return 1; });
    ZelkorThreadData.Get().SuppressExceptions = true;
    SetLastError(0xBAD);
    EXPECT_FALSE(key.Open(HKEY_CURRENT_USER, path.c_str(), 7));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_TRUE(ZelkorThreadData.Get().ErrorShown);
    ZelkorThreadData.Get() = CZelkorThreadData();
    ErrorsInternal::SetShowMessageHookForTest(nullptr);
}

TEST_F(RegistryKeyTest, SettingsThatDoNotExistAreEmpty)
{
    EXPECT_TRUE(GetUserSetting(L"ZelkorTestNoSuchSetting").IsEmpty());
    EXPECT_TRUE(GetMachineSetting(L"ZelkorTestNoSuchSetting").IsEmpty());

    HKEY settings = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Quorell\\Zelkor", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &settings, nullptr),
              ERROR_SUCCESS);
    const std::wstring value = std::to_wstring(GetCurrentProcessId());
    const std::wstring name = L"ZelkorTest" + value;
    RegSetValueExW(settings, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * 2));
    EXPECT_EQ(Text(GetUserSetting(name.c_str())), value);
    RegDeleteValueW(settings, name.c_str());
    RegCloseKey(settings);
    EXPECT_TRUE(GetUserSetting(name.c_str()).IsEmpty());
}

} // namespace
