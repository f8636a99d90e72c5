// TEMPORARY stand-in (see README.txt).
#pragma once
#include <windows.h>
#include <cstdarg>
#include <cstdint>
#include <string>
namespace Zelkor {
class CUnicodeString {
public:
    CUnicodeString() = default;
    CUnicodeString(const wchar_t* t) : s(t ? t : L"") {}
    CUnicodeString(const wchar_t* t, int32_t n) : s(t, n) {}
    int32_t GetLength() const { return static_cast<int32_t>(s.size()); }
    bool IsEmpty() const { return s.empty(); }
    const wchar_t* GetText() const { return s.c_str(); }
    operator const wchar_t*() const { return s.c_str(); }
    wchar_t operator[](int32_t i) const { return s[i]; }
    void Assign(const wchar_t* t, int32_t n) { s.assign(t, n); }
    void Empty() { s.clear(); }
    wchar_t* GetBuffer(int32_t n) { s.resize(n); return &s[0]; }
    void ReleaseBuffer(int32_t n = -1) { s.resize(n < 0 ? wcslen(s.c_str()) : n); }
    bool LoadFromResource(HMODULE m, uint32_t id) {
        const wchar_t* p = nullptr;
        int n = LoadStringW(m, id, reinterpret_cast<LPWSTR>(&p), 0);
        if (n <= 0) { s.clear(); return false; }
        s.assign(p, n);
        return true;
    }
private:
    std::wstring s;
};
inline bool operator==(const CUnicodeString& a, const wchar_t* b) { return wcscmp(a.GetText(), b) == 0; }
inline bool operator==(const CUnicodeString& a, const CUnicodeString& b) { return wcscmp(a.GetText(), b.GetText()) == 0; }
} // namespace Zelkor
