#include "diag/messages.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cwchar>

#include "diag/bootstrap_log.h"
#include "diag/message_rules.h"
#include "system/smart_buffer.h"
#include "system/win_owners.h"

namespace {

const wchar_t kResourceModuleName[] = L"qz-setup.rsc";

// wvsprintfW writes at most this many characters (its buffer of 1,024 holds the terminator).
constexpr int kMaxFormatted = static_cast<int>(kFormattedTextLimit);

// The resource module, loaded on the first lookup and never retried.
UniqueModule g_resourceModule;
bool g_loadAttempted = false;
bool g_releaseRegistered = false;

// The ids whose module text was passed over and reported: each once. The
// catalogue has far fewer ids than there is room for here.
WORD g_passedOver[64];
std::size_t g_passedOverCount = 0;

// Whether `id` is reported already; notes it when not.
bool AlreadyReported(WORD id) {
    if (std::find(g_passedOver, g_passedOver + g_passedOverCount, id) != g_passedOver + g_passedOverCount)
        return true;
    if (g_passedOverCount < sizeof g_passedOver / sizeof g_passedOver[0])
        g_passedOver[g_passedOverCount++] = id;
    return false;
}

// Registered at the first lookup, that is after the bootstrap log's own
// closing at exit, so it runs first: the closing line never comes from the module.
void ReleaseResourceModule() {
    g_resourceModule.reset();
}

HMODULE ExecutableModule() {
    return GetModuleHandleW(nullptr);
}

// The folder of the program itself, with its separator; empty when it
// cannot be told.
std::wstring ProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 32768)
            return std::wstring();
        path.resize(path.size() * 2);
    }
    const std::size_t end = path.find_last_of(L"\\/");
    return end == std::wstring::npos ? std::wstring() : path.substr(0, end + 1);
}

// A read-only view of the text of `id` in `module`; false when it has none.
bool FindText(HMODULE module, WORD id, const wchar_t*& text, int& length) {
    const wchar_t* resource = nullptr;
    const int count = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&resource), 0);
    if (count <= 0 || !resource)
        return false;
    text = resource;
    length = count;
    return true;
}

// The text of `id` from the resource module, else from the executable.
bool FindResourceText(WORD id, const wchar_t*& text, int& length) {
    const HMODULE module = IsNeverFromModule(id) ? nullptr : GetResourceModule();
    return (module && FindText(module, id, text, length)) || FindText(ExecutableModule(), id, text, length);
}

// Whether the module's text of `id` may be formatted with the arguments the
// program passes for it: its conversions are those of the built-in text. A
// module built for another version, or by hand, would otherwise have the
// formatter read arguments that were never passed. A text passed over is
// reported once.
bool FormatsLikeBuiltIn(HMODULE module, WORD id) {
    const wchar_t* text = nullptr;
    int length = 0;
    const wchar_t* builtIn = nullptr;
    int builtInLength = 0;
    if (!FindText(module, id, text, length))
        return false;
    if (!FindText(ExecutableModule(), id, builtIn, builtInLength))
        return false; // nothing to hold it against: an id this program never formats
    if (ConversionsMatch(text, static_cast<std::size_t>(length), builtIn,
                         static_cast<std::size_t>(builtInLength)))
        return true;
    if (!AlreadyReported(id)) {
        std::wstring report;
        if (FormatModuleMessage(nullptr, IDS_MODULE_TEXT_PASSED_OVER, report, static_cast<unsigned>(id),
                                kResourceModuleName, kResourceModuleName))
            WriteLogLine(report, LOG_INFO);
    }
    return false;
}

bool FormatFrom(HMODULE module, WORD id, std::wstring& out, va_list args) {
    const wchar_t* text = nullptr;
    int length = 0;
    if (!FindText(module, id, text, length))
        return false;

    smart_buffer<wchar_t, 100> format(static_cast<std::size_t>(length) + 1);
    std::wmemcpy(format.data(), text, static_cast<std::size_t>(length));
    format.data()[length] = L'\0';

    wchar_t formatted[kMaxFormatted + 2] = {};
    const int written = wvsprintfW(formatted, format.data(), args);
    // A cut result is reported at the limit; never take its terminator along.
    const int limit = std::min(std::max(written, 0), kMaxFormatted);
    int count = 0;
    while (count < limit && formatted[count] != L'\0')
        ++count;
    out.assign(formatted, static_cast<std::size_t>(count));
    return true;
}

bool FormatFromCopy(HMODULE module, WORD id, std::wstring& out, va_list args) {
    va_list copy;
    va_copy(copy, args);
    bool formatted = false;
    try {
        formatted = FormatFrom(module, id, out, copy);
    } catch (...) {
        va_end(copy);
        throw;
    }
    va_end(copy);
    return formatted;
}

} // namespace

namespace detail {

bool FormatResourceMessageImpl(WORD id, std::wstring* out, ...) {
    va_list args;
    va_start(args, out);
    bool formatted = false;
    try {
        const HMODULE module = IsNeverFromModule(id) ? nullptr : GetResourceModule();
        if (module && FormatsLikeBuiltIn(module, id))
            formatted = FormatFromCopy(module, id, *out, args);
        if (!formatted)
            formatted = FormatFromCopy(ExecutableModule(), id, *out, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    return formatted;
}

bool FormatModuleMessageImpl(HMODULE module, WORD id, std::wstring* out, ...) {
    va_list args;
    va_start(args, out);
    bool formatted = false;
    try {
        // Another module's text is formatted only when it fits the arguments.
        const HMODULE from = module ? module : ExecutableModule();
        if (from == ExecutableModule() || FormatsLikeBuiltIn(from, id))
            formatted = FormatFromCopy(from, id, *out, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    return formatted;
}

} // namespace detail

bool LoadResourceMessage(WORD id, std::wstring& out) {
    const wchar_t* text = nullptr;
    int length = 0;
    if (!FindResourceText(id, text, length))
        return false;
    out.assign(text, static_cast<std::size_t>(length));
    return true;
}

bool LoadResourceMessageA(WORD id, std::string& out) {
    const wchar_t* text = nullptr;
    int length = 0;
    if (!FindResourceText(id, text, length))
        return false;
    const int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return false;
    smart_buffer<char, 100> ansi(static_cast<std::size_t>(size));
    if (WideCharToMultiByte(CP_ACP, 0, text, length, ansi.data(), size, nullptr, nullptr) != size)
        return false;
    out.assign(ansi.data(), static_cast<std::size_t>(size));
    return true;
}

std::wstring LoadBuiltInMessage(WORD id) {
    const wchar_t* text = nullptr;
    int length = 0;
    if (!FindText(ExecutableModule(), id, text, length))
        return std::wstring();
    return std::wstring(text, static_cast<std::size_t>(length));
}

HMODULE GetResourceModule() {
    if (!g_releaseRegistered) {
        g_releaseRegistered = true;
        std::atexit(ReleaseResourceModule);
    }
    if (g_loadAttempted)
        return g_resourceModule.get();
    g_loadAttempted = true;

    // Beside the program, by its full path: never from the current folder,
    // and never by a bare name, which would let the loader search elsewhere.
    const std::wstring folder = ProgramFolder();
    if (folder.empty())
        return nullptr;
    const std::wstring path = folder + kResourceModuleName;
    WIN32_FIND_DATAW found;
    const UniqueFindHandle search(FindFirstFileW(path.c_str(), &found));
    if (!search.valid())
        return nullptr;

    // As an image of resources only: none of its code runs, and nobody may
    // write the file while it is in use.
    g_resourceModule.reset(LoadLibraryExW(
        path.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE));
    if (!g_resourceModule.get()) {
        std::wstring text;
        if (FormatModuleMessage(nullptr, IDS_RESOURCE_MODULE_FAILED, text, kResourceModuleName))
            WriteLogLine(text, LOG_INFO);
    }
    return g_resourceModule.get();
}

std::vector<WORD> ModuleTextsPassedOver() {
    std::vector<WORD> ids;
    const HMODULE module = GetResourceModule();
    if (!module)
        return ids;
    // The string tables of both modules hold ids below 0x1000.
    for (WORD id = 1; id < 0x1000; ++id) {
        const wchar_t* text = nullptr;
        int length = 0;
        const wchar_t* builtIn = nullptr;
        int builtInLength = 0;
        if (IsNeverFromModule(id) || !FindText(module, id, text, length) ||
            !FindText(ExecutableModule(), id, builtIn, builtInLength))
            continue;
        if (!ConversionsMatch(text, static_cast<std::size_t>(length), builtIn,
                              static_cast<std::size_t>(builtInLength)))
            ids.push_back(id);
    }
    return ids;
}
