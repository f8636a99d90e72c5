// The provider list document: the exports of the loaded Trevalic.dll against a straightforward
// std::wstring renderer of the same seven records.
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Bench.h"
#include "ProviderEntry.h"

namespace {

using GetProvidersListFn = bool (*)(int32_t, wchar_t*, size_t*);
using GetTrevalicListJsonFn = BSTR (*)();
using GetResourceIDFn = unsigned int (*)(const wchar_t*);

template <class Fn>
Fn Export(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Median over batches of the time per call, in microseconds.
template <class F>
double MedianPerCall(F call)
{
    constexpr int batches = 31;
    constexpr int callsPerBatch = 200;
    for (int i = 0; i < callsPerBatch; ++i)
        call();
    std::vector<double> perCall;
    for (int b = 0; b < batches; ++b) {
        const double start = Bench::NowMicroseconds();
        for (int i = 0; i < callsPerBatch; ++i)
            call();
        perCall.push_back((Bench::NowMicroseconds() - start) / callsPerBatch);
    }
    std::sort(perCall.begin(), perCall.end());
    return perCall[batches / 2];
}

// The reference: one std::wstring, escaping as it goes, the same lookups of the titles.
class CPlainRenderer {
public:
    explicit CPlainRenderer(HMODULE module)
        : module(module), resourceId(Export<GetResourceIDFn>(module, "GetResourceID"))
    {
    }

    std::wstring Render() const
    {
        std::wstring out = L"{\"Trevalic\": [";
        for (int32_t i = 0; i < Trevalic::BuiltInProviderCount; ++i) {
            if (i > 0)
                out += L",\n";
            Record(out, *Trevalic::BuiltInProviders[i]);
        }
        out += L"]}";
        return out;
    }

private:
    static void String(std::wstring& out, const wchar_t* text, size_t length)
    {
        out += L'"';
        for (size_t i = 0; i < length; ++i) {
            const wchar_t c = text[i];
            switch (c) {
            case L'"': out += L"\\\""; break;
            case L'\\': out += L"\\\\"; break;
            case L'\b': out += L"\\b"; break;
            case L'\f': out += L"\\f"; break;
            case L'\n': out += L"\\n"; break;
            case L'\r': out += L"\\r"; break;
            case L'\t': out += L"\\t"; break;
            default:
                if (c >= 0x20 && c < 0x7F) {
                    out += c;
                } else {
                    wchar_t escape[8];
                    _snwprintf(escape, 8, L"\\u%04x", static_cast<unsigned>(c));
                    out.append(escape, 6);
                }
            }
        }
        out += L'"';
    }
    static void String(std::wstring& out, const Zelkor::CUnicodeString& text)
    {
        String(out, text.GetText(), text.GetLength());
    }

    void Record(std::wstring& out, const Trevalic::ProviderEntry& record) const
    {
        out += L"{\"Id\":";
        String(out, record.Id);
        out += L",\"Name\":";
        const wchar_t* title = nullptr;
        const int titleLength =
            LoadStringW(module, resourceId(record.Name.GetName()), reinterpret_cast<LPWSTR>(&title), 0);
        String(out, title, titleLength);
        out += record.UiVisible ? L",\"UiVisible\":true" : L",\"UiVisible\":false";
        out += L",\"AuthorizationEndpoint\":";
        String(out, record.AuthorizationEndpoint);
        out += L",\"TokenEndpoint\":";
        String(out, record.TokenEndpoint);
        out += L",\"ClientId\":";
        String(out, record.ClientId);
        out += L",\"ClientSecrets\":[";
        for (int32_t i = 0; i < record.ClientSecrets.GetSize(); ++i) {
            out += i ? L",{ \"Value\": " : L"{ \"Value\": ";
            String(out, record.ClientSecrets[i].Value);
            out += L",\"Expiration\": ";
            Expiration(out, record.ClientSecrets[i].Expiration);
            out += L" }";
        }
        out += L"],\"Scope\":";
        String(out, record.Scope);
        out += L",\"RedirectUrl\":";
        String(out, record.RedirectUrl);
        out += L",\"RedirectPort\":" + std::to_wstring(record.RedirectPort);
        out += L",\"ProviderType\":";
        out += record.ProviderType == Trevalic::ProviderType::IMAP ? L"\"IMAP\""
            : record.ProviderType == Trevalic::ProviderType::Graph ? L"\"Graph\""
                                                                   : L"\"SharePoint\"";
        out += L",\"ExtraParameters\": {";
        bool first = true;
        record.ExtraParameters.ForEach([&](const Zelkor::CUnicodeString& key, const Zelkor::CUnicodeString& value) {
            if (!first)
                out += L',';
            first = false;
            String(out, key);
            out += L':';
            String(out, value);
        });
        out += L"}}";
    }

    static void Expiration(std::wstring& out, int64_t expiration)
    {
        if (expiration == Trevalic::NeverExpires) {
            out += L"null";
            return;
        }
        FILETIME time{static_cast<DWORD>(expiration), static_cast<DWORD>(static_cast<uint64_t>(expiration) >> 32)};
        SYSTEMTIME utc;
        FileTimeToSystemTime(&time, &utc);
        wchar_t text[32];
        const int length = _snwprintf(text, 32, L"\"%04u-%02u-%02uT%02u:%02u:%02uZ\"", utc.wYear, utc.wMonth, utc.wDay,
                                      utc.wHour, utc.wMinute, utc.wSecond);
        out.append(text, length);
    }

    HMODULE module;
    GetResourceIDFn resourceId;
};

void BenchProviderList()
{
    HMODULE module = LoadLibraryW(L"Trevalic.dll");
    if (!module) {
        std::printf("cannot load Trevalic.dll: error %lu\n", GetLastError());
        return;
    }
    auto list = Export<GetProvidersListFn>(module, "GetProvidersList");
    auto listJson = Export<GetTrevalicListJsonFn>(module, "GetTrevalicListJson");
    const CPlainRenderer plain(module);

    std::vector<wchar_t> buffer;
    std::wstring document;
    const double protocol = MedianPerCall([&] {
        size_t count = 0;
        list(0, nullptr, &count);
        buffer.resize(count);
        list(0, buffer.data(), &count);
    });
    const double system = MedianPerCall([&] { SysFreeString(listJson()); });
    const double reference = MedianPerCall([&] { document = plain.Render(); });

    // The reference must render the very document the export returns.
    const std::wstring exported(buffer.data(), buffer.size() - 1);
    std::printf("documents agree: %s (%zu characters)\n", exported == document ? "yes" : "NO", exported.size());
    Bench::Report("catalogue: GetProvidersList vs std::wstring", protocol, reference);
    Bench::Report("catalogue: GetTrevalicListJson vs std::wstring", system, reference);
    FreeLibrary(module);
}

Bench::Register registerProviderList("catalogue", BenchProviderList);

} // namespace
