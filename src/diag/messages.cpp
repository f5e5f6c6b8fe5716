#include "diag/messages.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cwchar>

#include "diag/bootstrap_log.h"
#include "diag/text_conversion.h"
#include "system/win_owners.h"

namespace {

const wchar_t kResourceModuleName[] = L"qz-setup.rsc";

// wvsprintfW writes at most this many characters.
constexpr int kMaxFormatted = 1024;

// The resource module, loaded on the first lookup and never retried.
UniqueModule g_resourceModule;
bool g_loadAttempted = false;
bool g_releaseRegistered = false;

// Registered at the first lookup, that is after the bootstrap log's own
// closing at exit, so it runs first: the closing line never comes from the module.
void ReleaseResourceModule() {
    g_resourceModule.reset();
}

HMODULE ExecutableModule() {
    return GetModuleHandleW(nullptr);
}

std::wstring CurrentDirectory() {
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    if (size == 0)
        return std::wstring();
    std::wstring directory(size, L'\0');
    const DWORD length = GetCurrentDirectoryW(size, &directory[0]);
    directory.resize(length < size ? length : 0);
    return directory;
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
    const HMODULE module = GetResourceModule();
    return (module && FindText(module, id, text, length)) || FindText(ExecutableModule(), id, text, length);
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
        const HMODULE module = GetResourceModule();
        if (module)
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
        formatted = FormatFromCopy(module ? module : ExecutableModule(), id, *out, args);
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

    WIN32_FIND_DATAW found;
    const UniqueFindHandle search(FindFirstFileW(kResourceModuleName, &found));
    if (!search.valid())
        return nullptr;

    // By its full path in the working directory only: a bare name would let
    // the loader search elsewhere.
    std::wstring path = CurrentDirectory();
    if (path.empty())
        return nullptr;
    if (path.back() != L'\\' && path.back() != L'/')
        path += L'\\';
    path += kResourceModuleName;
    g_resourceModule.reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!g_resourceModule.get()) {
        std::wstring text;
        if (FormatModuleMessage(nullptr, IDS_RESOURCE_MODULE_FAILED, text, kResourceModuleName))
            WriteLogLine(text, LOG_INFO);
    }
    return g_resourceModule.get();
}
