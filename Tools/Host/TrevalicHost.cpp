// The tool a person uses to look at the catalogue: it loads Trevalic.dll as a host does
// (LoadLibraryW from its own folder) and prints the provider list document raw, indented or
// as a table, or the messages of the message module. Exit status: 0 success, 1 the DLL or an
// export failed, 2 a bad command line; every failure prints one line on stderr.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Trevalic.h"

namespace {

const char Usage[] = "usage: TrevalicHost [--type N] [--table | --pretty]\n"
                     "       TrevalicHost --bstr [--table | --pretty]\n"
                     "       TrevalicHost --messages | --help\n"
                     "Prints the provider list document of Trevalic.dll, loaded from this program's folder.\n"
                     "  --type N    only providers of kind N: 0 all (default), 1 IMAP, 2 Graph, 3 SharePoint\n"
                     "  --bstr      the document through GetTrevalicListJson instead of GetProvidersList\n"
                     "  --table     one line per provider: id, type, visible, client id, secret expiry\n"
                     "  --pretty    the document indented\n"
                     "  --messages  the message module: id, name and English text per line\n";

// A failure that ends the program with its exit status and a one-line reason.
struct Failure {
    int status;
    std::string reason;
};

std::string Utf8(const wchar_t* text, size_t length)
{
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string result(bytes > 0 ? bytes : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), result.data(), bytes, nullptr, nullptr);
    return result;
}

// Console output in UTF-8, so that texts outside ASCII survive a pipe.
void Print(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
}

std::string ErrorText(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string result = "error " + std::to_string(error);
    if (length) {
        std::string message = Utf8(text, length);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
            message.pop_back();
        result += " (" + message + ")";
    }
    LocalFree(text);
    return result;
}

// FARPROC has no arguments; going through void* tells the compiler the cast is meant.
template <class Function>
Function GetExport(HMODULE module, const char* name)
{
    auto function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!function)
        throw Failure{1, std::string("Trevalic.dll lacks the export ") + name};
    return function;
}

// The document through the buffer protocol: size query, then a buffer of the size reported.
std::wstring ProviderList(HMODULE module, int32_t providerType)
{
    auto list = GetExport<PFN_GetProvidersList>(module, "GetProvidersList");
    const std::string call = "GetProvidersList(" + std::to_string(providerType) + ")";
    size_t count = 0;
    if (list(providerType, nullptr, &count) || GetLastError() != TREVALIC_ERROR_INSUFFICIENT_BUFFER || count == 0)
        throw Failure{1, call + " size query failed: " + ErrorText(GetLastError())};
    std::wstring text(count, L'\0');
    if (!list(providerType, text.data(), &count))
        throw Failure{1, call + " failed: " + ErrorText(GetLastError())};
    text.resize(count - 1);
    return text;
}

// The document as the managed host receives it: a system string it frees itself.
std::wstring ProviderListJson(HMODULE module)
{
    BSTR text = GetExport<PFN_GetTrevalicListJson>(module, "GetTrevalicListJson")();
    if (!text)
        throw Failure{1, "GetTrevalicListJson returned null"};
    std::wstring result(text, SysStringLen(text));
    SysFreeString(text);
    return result;
}

nlohmann::ordered_json Parse(const std::wstring& document)
{
    try {
        return nlohmann::ordered_json::parse(Utf8(document.data(), document.size()));
    } catch (const nlohmann::json::exception& e) {
        throw Failure{1, std::string("the document is not valid JSON: ") + e.what()};
    }
}

std::string SecretExpiries(const nlohmann::ordered_json& secrets)
{
    std::string result;
    for (const auto& secret : secrets) {
        const auto& expiration = secret.at("Expiration");
        if (!result.empty())
            result += ',';
        result += expiration.is_null() ? "never" : expiration.get_ref<const std::string&>();
    }
    return result.empty() ? "-" : result;
}

void PrintTable(const nlohmann::ordered_json& document)
{
    std::vector<std::vector<std::string>> rows = {{"Id", "Type", "Visible", "ClientId", "SecretExpires"}};
    for (const auto& provider : document.at("Trevalic"))
        rows.push_back({provider.at("Id").get<std::string>(), provider.at("ProviderType").get<std::string>(),
                        provider.at("UiVisible").get<bool>() ? "yes" : "no", provider.at("ClientId").get<std::string>(),
                        SecretExpiries(provider.at("ClientSecrets"))});
    std::vector<size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c)
            line += c + 1 < row.size() ? row[c] + std::string(widths[c] - row[c].size() + 2, ' ') : row[c] + "\n";
        Print(line);
    }
}

void ListMessages(HMODULE module)
{
    const auto count = GetExport<PFN_NumberOfMessages>(module, "NumberOfMessages");
    const auto name = GetExport<PFN_GetMessageName>(module, "GetMessageName");
    const auto id = GetExport<PFN_GetResourceID>(module, "GetResourceID");
    for (int32_t i = 0; i < count(); ++i) {
        const wchar_t* messageName = name(i);
        if (!messageName)
            throw Failure{1, "GetMessageName(" + std::to_string(i) + ") returned null"};
        const uint32_t messageId = id(messageName);
        const wchar_t* text = nullptr;
        const int length = LoadStringW(module, messageId, reinterpret_cast<LPWSTR>(&text), 0);
        // One line per message: line feeds inside a text are shown as \n.
        std::string line = std::to_string(messageId) + "\t" + Utf8(messageName, std::wcslen(messageName)) + "\t";
        for (int start = 0, end = 0; end <= length; ++end)
            if (end == length || text[end] == L'\n') {
                line += Utf8(text + start, end - start) + (end < length ? "\\n" : "");
                start = end + 1;
            }
        Print(line + "\n");
    }
}

struct Options {
    enum class Source { List, Bstr, Messages } source = Source::List;
    enum class View { Raw, Pretty, Table } view = View::Raw;
    int32_t providerType = TREVALIC_PROVIDER_ANY;
    bool typeGiven = false;
};

// Kinds outside 0 to 3 are refused here: the DLL would answer them with an empty list or 87,
// which a person looking at the catalogue would mistake for a catalogue without providers.
int32_t ParseProviderType(const wchar_t* text)
{
    wchar_t* end = nullptr;
    const long value = std::wcstol(text, &end, 10);
    if (end == text || *end || value < TREVALIC_PROVIDER_ANY || value > TREVALIC_PROVIDER_SHAREPOINT)
        throw Failure{2, "not a provider type (0 to 3): " + Utf8(text, std::wcslen(text))};
    return static_cast<int32_t>(value);
}

Options ParseOptions(int argc, wchar_t** argv)
{
    Options options;
    bool viewGiven = false, sourceGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--help") {
            Print(Usage);
            std::exit(0);
        } else if (option == L"--type") {
            if (i + 1 == argc)
                throw Failure{2, "--type needs a provider type"};
            options.providerType = ParseProviderType(argv[++i]);
            options.typeGiven = true;
        } else if (option == L"--bstr" || option == L"--messages") {
            if (sourceGiven)
                throw Failure{2, "--bstr and --messages exclude each other"};
            options.source = option == L"--bstr" ? Options::Source::Bstr : Options::Source::Messages;
            sourceGiven = true;
        } else if (option == L"--table" || option == L"--pretty") {
            if (viewGiven)
                throw Failure{2, "--table and --pretty exclude each other"};
            options.view = option == L"--table" ? Options::View::Table : Options::View::Pretty;
            viewGiven = true;
        } else {
            throw Failure{2, "unknown option: " + Utf8(option.data(), option.size()) + " (see --help)"};
        }
    }
    if (options.typeGiven && options.source != Options::Source::List)
        throw Failure{2, "--type applies to GetProvidersList only, not to --bstr or --messages"};
    if (viewGiven && options.source == Options::Source::Messages)
        throw Failure{2, "--messages has no --table or --pretty view"};
    return options;
}

void Run(HMODULE module, const Options& options)
{
    if (options.source == Options::Source::Messages)
        return ListMessages(module);
    const std::wstring document =
        options.source == Options::Source::Bstr ? ProviderListJson(module) : ProviderList(module, options.providerType);
    switch (options.view) {
    case Options::View::Raw: Print(Utf8(document.data(), document.size()) + "\n"); break;
    case Options::View::Pretty: Print(Parse(document).dump(2) + "\n"); break;
    case Options::View::Table: try { PrintTable(Parse(document));
        } catch (const nlohmann::json::exception& e) {
            throw Failure{1, std::string("the document lacks a member of a provider: ") + e.what()};
        }
        break;
    }
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // The document goes out byte for byte: its line feeds are not to become CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    HMODULE module = nullptr;
    int status = 0;
    try {
        const Options options = ParseOptions(argc, argv);
        module = LoadLibraryW(L"Trevalic.dll");
        if (!module)
            throw Failure{1, "cannot load Trevalic.dll: " + ErrorText(GetLastError())};
        Run(module, options);
    } catch (const Failure& failure) {
        std::fprintf(stderr, "TrevalicHost: %s\n", failure.reason.c_str());
        status = failure.status;
    } catch (...) {
        // A framework exception (exhausted memory, an internal error) left an export.
        std::fprintf(stderr, "TrevalicHost: an export of Trevalic.dll raised an exception\n");
        status = 1;
    }
    std::fflush(stdout);
    if (module)
        FreeLibrary(module);
    return status;
}
