// Version resources of real files: Trevalic.dll (with a resource, translation 0409/1200) and
// this test program (without one).
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "VersionInfo.h"

using namespace Zelkor;

namespace {

std::wstring BesideThisProgram(const wchar_t* file)
{
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path = exe;
    return path.substr(0, path.find_last_of(L"\\/") + 1) + file;
}

std::wstring Text(const CUnicodeString& s)
{
    return std::wstring(s.GetText(), s.GetLength());
}

TEST(VersionInfo, FileWithVersionResource)
{
    CVersionInfo info(BesideThisProgram(L"Trevalic.dll").c_str());
    ASSERT_TRUE(info.IsValid());
    const struct {
        const wchar_t* name;
        const wchar_t* value;
    } cases[] = {
        {L"FileVersion", L"12.0.0.1"},
        {L"ProductName", L"Tarnwick"},
        {L"OriginalFilename", L"Trevalic.dll"},
        {L"MessageHandler", L""}, // not in this resource
        {L"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Text(info.GetStringValue(c.name)), c.value) << std::wstring(c.name);
}

TEST(VersionInfo, FilesWithoutVersionResource)
{
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    for (const std::wstring& path : {std::wstring(exe), BesideThisProgram(L"NoSuchFile.dll"), std::wstring()}) {
        CVersionInfo info(path.c_str());
        EXPECT_FALSE(info.IsValid()) << path;
        EXPECT_TRUE(info.GetStringValue(L"FileVersion").IsEmpty()) << path;
    }
}

} // namespace
