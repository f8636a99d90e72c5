// Registry keys against the test prefix's registry, below a key of each test's own. Values are
// written with exact byte counts and a non-NUL unit after the data, because the platform adds a
// terminator itself when the unit after the data is NUL.
#include "Errors.h"
#include "MessageName.h"
#include "RegistryKey.h"
#include "TestSupport.h"

using namespace Zelkor;

namespace {

class RegistryKeyTest : public ::testing::Test {
protected:
    CScratchKey scratch{L"ZelkorRegistryKeyTest"};
    const std::wstring& path = scratch.path;
};

// Reading values, and misuse of a key: reading a closed one, null arguments, opening one that is
// open, with a null path or in an unknown mode, writing through one opened for reading.
TEST_F(RegistryKeyTest, StringValues)
{
    const std::wstring s63(63, L's'), s64(64, L'q');
    // Written: the given number of bytes of units, then the sentinel. 63 units fill the first
    // buffer exactly; 64 need a second read.
    // clang-format off
    const struct { const wchar_t* name; DWORD type; std::wstring units; DWORD bytes; std::wstring expected; } cases[] = {
        {L"SixtyThreeBare", REG_SZ, s63, 126, s63},
        {L"SixtyFourBare", REG_SZ, s64, 128, s64},
        {L"Inner", REG_SZ, std::wstring(L"AB\0CD\0", 6), 12, L"AB"},
        {L"Expand", REG_EXPAND_SZ, std::wstring(L"%SystemRoot%\\x") + L'\0', 30, L"%SystemRoot%\\x"},
        {L"NoBytes", REG_SZ, L"", 0, L"default"},
        {L"Odd", REG_SZ, L"ABC", 5, L"default"},
        {L"Multi", REG_MULTI_SZ, std::wstring(L"a\0b\0\0", 5), 10, L"default"}, // of another type
    };
    // clang-format on
    for (const auto& c : cases) {
        const std::wstring buffer = c.units + L"##";
        ASSERT_EQ(RegSetValueExW(scratch.key, c.name, 0, c.type, reinterpret_cast<const BYTE*>(buffer.data()), c.bytes), 0);
    }
    CRegistryKey key;
    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, path.c_str(), CRegistryKey::Read));
    for (const auto& c : cases)
        EXPECT_EQ(W(key.GetStringValue(c.name, L"default")), c.expected) << std::wstring(c.name);
    EXPECT_TRUE(ReportsAt(CheckSite::RegistryReadClosed, [] { CRegistryKey().GetStringValue(L"V", L""); }));
    EXPECT_TRUE(ReportsAt(CheckSite::RegistryReadNullArgument, [&] { key.GetStringValue(nullptr, L""); }));
    EXPECT_TRUE(ReportsAt(CheckSite::RegistryReadNullArgument, [&] { key.GetStringValue(L"V", nullptr); }));
    EXPECT_TRUE(ReportsAt(CheckSite::RegistryOpenWithHandle, [&] { key.Open(HKEY_CURRENT_USER, path.c_str(), CRegistryKey::Read); }));
    EXPECT_TRUE(ReportsAt(CheckSite::RegistryOpenNullPath, [] { CRegistryKey().Open(HKEY_CURRENT_USER, nullptr, CRegistryKey::Read); }));
    CRegistryKey unknownMode; // refused, and still closed
    EXPECT_TRUE(ReportsAt(CheckSite::RegistryOpenUnknownMode, [&] { unknownMode.Open(HKEY_CURRENT_USER, path.c_str(), 7); }));
    EXPECT_EQ(ShownWhenSuppressed([&] { EXPECT_FALSE(unknownMode.Open(HKEY_CURRENT_USER, path.c_str(), 7)); }), 1u);
    EXPECT_TRUE(unknownMode.Open(HKEY_CURRENT_USER, path.c_str(), CRegistryKey::Read));
    EXPECT_TRUE(ReportsAt(CheckSite::RegistryWriteNotWritable, [&] { key.SetStringValue(L"V", L"x", 4); }));
    CRegistryKey missing, root;
    EXPECT_FALSE(missing.Open(HKEY_CURRENT_USER, (path + L"\\Missing").c_str(), CRegistryKey::Read));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(W(missing.GetStringValue(L"Any", L"d")), L"d");
    // A refusal other than a missing value is the platform's error; shown instead, the default.
    CRegistryKey blind;
    ASSERT_TRUE(blind.OpenForReading(HKEY_CURRENT_USER, path.c_str(), KEY_SET_VALUE));
    CLastErrorException* refused = Catch<CLastErrorException>([&] { blind.GetStringValue(L"Inner", L"d"); });
    EXPECT_EQ(refused ? refused->GetErrorCode() : 0, uint32_t(ERROR_ACCESS_DENIED));
    delete refused;
    EXPECT_EQ(ShownWhenSuppressed([&] { EXPECT_EQ(W(blind.GetStringValue(L"Inner", L"d")), L"d"); }), 1u);
    ASSERT_TRUE(root.Open(HKEY_CURRENT_USER, L"", CRegistryKey::Read));
    EXPECT_EQ(W(root.GetName()), L"HKEY_CURRENT_USER");
    SetLastError(1234), root.Close();
    EXPECT_EQ(GetLastError(), 0u) << "the registry's result of the close";
}

// A failed write raises the registry message, naming the key, or the value of a key that opened.
TEST_F(RegistryKeyTest, WriteFailuresNameTheKeyOrValue)
{
    auto failedWrite = [](CRegistryKey& key) {
        CCheckException* e = Catch<CCheckException>([&] { key.SetStringValue(L"V", L"x", 4); });
        const bool registryMessage = e && &e->GetMessageName() == &Messages::ERR_CANT_WRITE_TO_REGISTRY;
        const std::wstring named = registryMessage ? W(e->GetParam(0)) : L"(another failure)";
        delete e;
        return named;
    };
    CRegistryKey unopened;
    EXPECT_FALSE(unopened.Open(reinterpret_cast<HKEY>(ULONG_PTR(0x1234)), L"Software\\X", CRegistryKey::Write));
    EXPECT_EQ(failedWrite(unopened), L"\\Software\\X");
    CRegistryKey key;
    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, (path + L"\\Gone").c_str(), CRegistryKey::Write));
    ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, (path + L"\\Gone").c_str()), 0);
    EXPECT_EQ(failedWrite(key), L"HKEY_CURRENT_USER\\" + path + L"\\Gone\\V");
    EXPECT_EQ(W(key.GetStringValue(L"V", L"d")), L"d"); // reading a deleted key is no error
    EXPECT_TRUE(ReportsAt(CheckSite::RegistryWriteNullData, [&] { key.SetStringValue(L"V", nullptr, 4); }));
}

// The names of the nine predefined roots, as a key's name shows them, whether or not it opens.
TEST_F(RegistryKeyTest, KeyNamesStartWithTheNameOfTheirRoot)
{
    // clang-format off
    const std::pair<HKEY, const wchar_t*> roots[] = {
        {HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT"}, {HKEY_CURRENT_USER, L"HKEY_CURRENT_USER"}, {HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE"},
        {HKEY_USERS, L"HKEY_USERS"}, {HKEY_PERFORMANCE_DATA, L"HKEY_PERFORMANCE_DATA"}, {HKEY_PERFORMANCE_TEXT, L"HKEY_PERFORMANCE_TEXT"},
        {HKEY_PERFORMANCE_NLSTEXT, L"HKEY_PERFORMANCE_NLSTEXT"}, {HKEY_CURRENT_CONFIG, L"HKEY_CURRENT_CONFIG"}, {HKEY_DYN_DATA, L"HKEY_DYN_DATA"},
    };
    // clang-format on
    for (const auto& [root, name] : roots) {
        CRegistryKey key;
        key.Open(root, L"Software\\Zelkor-missing", CRegistryKey::Read);
        EXPECT_EQ(W(key.GetName()), std::wstring(name) + L"\\Software\\Zelkor-missing");
    }
}

// The settings where a user has them: the settings key of the real hives, not a redirected one.
// The value is this run's own, so no other suite sees it.
TEST_F(RegistryKeyTest, SettingsComeFromTheRealHives)
{
    const std::wstring value = L"ZelkorTest" + std::to_wstring(GetCurrentProcessId());
    const std::pair<HKEY, std::wstring> settings[] = {{HKEY_CURRENT_USER, L"user"}, {HKEY_LOCAL_MACHINE, L"machine"}};
    for (const auto& [root, data] : settings)
        ASSERT_EQ(RegSetKeyValueW(root, L"Software\\Quorell\\Zelkor", value.c_str(), REG_SZ, data.c_str(), DWORD(data.size() + 1) * 2), 0);
    EXPECT_EQ(W(GetUserSetting(value.c_str())), L"user");
    EXPECT_EQ(W(GetMachineSetting(value.c_str())), L"machine");
    for (const auto& setting : settings)
        EXPECT_EQ(RegDeleteKeyValueW(setting.first, L"Software\\Quorell\\Zelkor", value.c_str()), 0);
    EXPECT_EQ(W(GetMachineSetting(value.c_str())), L"");
}

} // namespace
