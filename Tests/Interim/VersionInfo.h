// TEMPORARY stand-in (see README.txt).
#pragma once
#include <windows.h>
#include <cstdio>
#include <vector>
#include "UnicodeString.h"
namespace Zelkor {
class CVersionInfo {
public:
    explicit CVersionInfo(const wchar_t* path)
    {
        DWORD size = GetFileVersionInfoSizeW(path, nullptr);
        if (size) {
            data.resize(size);
            valid = GetFileVersionInfoW(path, 0, size, data.data());
        }
    }
    CUnicodeString GetStringValue(const wchar_t* name)
    {
        void* p;
        UINT n;
        if (!valid || !VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &p, &n) || n == 0)
            return CUnicodeString();
        auto* t = static_cast<WORD*>(p);
        wchar_t block[300];
        _snwprintf(block, 256, L"\\StringFileInfo\\%04x%04x\\%s", t[0], t[1], name);
        if (!VerQueryValueW(data.data(), block, &p, &n) || n == 0)
            return CUnicodeString();
        return CUnicodeString(static_cast<wchar_t*>(p));
    }

private:
    std::vector<BYTE> data;
    bool valid = false;
};
}
