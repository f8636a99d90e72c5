// TEMPORARY stand-in (see README.txt); shadowed by Zelkor/Inc/UnicodeString.h once merged.
#pragma once

#include <cstdint>
#include <cwchar>
#include <string>

#include <windows.h>

namespace Zelkor {

class CString {
public:
    CString() = default;
    CString(const char* text, int32_t length) : s(text, length) {}
    int32_t GetLength() const { return int32_t(s.size()); }
    const char* GetText() const { return s.c_str(); }

private:
    std::string s;
};

class CUnicodeString {
public:
    CUnicodeString() = default;
    CUnicodeString(const wchar_t* text) : s(text ? text : L"") {}
    CUnicodeString(const wchar_t* text, int32_t length) : s(text, length) {}
    int32_t GetLength() const { return int32_t(s.size()); }
    bool IsEmpty() const { return s.empty(); }
    const wchar_t* GetText() const { return s.c_str(); }
    operator const wchar_t*() const { return s.c_str(); }
    wchar_t operator[](int32_t i) const { return s[i]; }
    CUnicodeString Mid(int32_t start, int32_t count) const { return CUnicodeString(s.c_str() + start, count); }
    CUnicodeString Left(int32_t n) const { return Mid(0, n); }
    CUnicodeString Right(int32_t n) const { return Mid(GetLength() - n, n); }
    void Assign(const wchar_t* t, int32_t n) { s.assign(t, n); }
    void Append(const wchar_t* t, int32_t n) { if (n > 0) s.append(t, n); }
    void Append(const CUnicodeString& o) { s += o.s; }
    CUnicodeString& operator+=(const CUnicodeString& o) { s += o.s; return *this; }
    CUnicodeString& operator+=(const wchar_t* t) { s += t; return *this; }
    CUnicodeString& operator+=(wchar_t c) { s += c; return *this; }
    void Insert(const wchar_t* t, int32_t n, int32_t pos) { if (n > 0) s.insert(pos, t, n); }
    void Delete(int32_t pos, int32_t count) { if (count > 0) s.erase(pos, count); }
    void ReplacePrefix(int32_t count, const wchar_t* t, int32_t n) { s.replace(0, count, t, n); }
    void SetAt(int32_t i, wchar_t c) { s[i] = c; }
    void SetLength(int32_t n) { s.resize(n); }
    void Empty() { s.clear(); }
    wchar_t* GetBuffer(int32_t n) { if (int32_t(s.size()) < n) s.resize(n); s[n] = 0; return &s[0]; }
    void ReleaseBuffer(int32_t n = -1) { s.resize(n < 0 ? std::wstring(s.c_str()).size() : size_t(n)); }
    int32_t Find(wchar_t c, int32_t start = 0) const { auto p = s.find(c, start); return p == s.npos ? -1 : int32_t(p); }
    int32_t ReverseFind(wchar_t c) const { auto p = s.rfind(c); return p == s.npos ? -1 : int32_t(p); }
    int Compare(const CUnicodeString& o) const { return s.compare(o.s); }
    int CompareNoCase(const wchar_t* t) const { return _wcsicmp(s.c_str(), t); }
    CString ToMultiByte(uint32_t codePage) const
    {
        if (s.empty())
            return CString();
        int n = WideCharToMultiByte(codePage, 0, s.c_str(), int(s.size()), nullptr, 0, nullptr, nullptr);
        std::string out(n, '\0');
        WideCharToMultiByte(codePage, 0, s.c_str(), int(s.size()), &out[0], n, nullptr, nullptr);
        return CString(out.c_str(), n);
    }
    bool ParseBool(bool& out) const
    {
        std::wstring t;
        for (wchar_t c : s)
            if (c != L' ' && c != L'\t') t += wchar_t(c >= L'A' && c <= L'Z' ? c + 32 : c);
        if (t == L"true" || t == L"on" || t == L"yes" || t == L"1") return out = true, true;
        if (t == L"false" || t == L"off" || t == L"no" || t == L"0") return out = false, true;
        return false;
    }

private:
    std::wstring s;
};

inline bool operator==(const CUnicodeString& a, const CUnicodeString& b) { return a.Compare(b) == 0; }
inline bool operator==(const CUnicodeString& a, const wchar_t* b) { return a.Compare(b) == 0; }
inline CUnicodeString operator+(const CUnicodeString& a, const CUnicodeString& b) { CUnicodeString r = a; r += b; return r; }
inline CUnicodeString operator+(const CUnicodeString& a, const wchar_t* b) { CUnicodeString r = a; r += b; return r; }
inline CUnicodeString operator+(const wchar_t* a, const CUnicodeString& b) { CUnicodeString r = a; r += b; return r; }

class CUnicodeSet {
public:
    bool Contains(wchar_t c) const
    {
        return (c >= 9 && c <= 13) || c == 0x20 || c == 0x85 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
               c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
    }
};
inline CUnicodeSet StrictWhitespaceSet;

} // namespace Zelkor
