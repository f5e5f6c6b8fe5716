// The message catalogue: texts by id, from the resource module qz-setup.rsc
// beside the program when it has them, else from the executable's own table.
#pragma once
#include <windows.h>

#include <string>
#include <vector>
#include <type_traits>

#include "resources/resource_ids.h"

namespace detail {
// printf-style (wvsprintfW) formatting of one message; `out` is changed only on success.
bool FormatResourceMessageImpl(WORD id, std::wstring* out, ...);
bool FormatModuleMessageImpl(HMODULE module, WORD id, std::wstring* out, ...);

inline const wchar_t* MessageArg(const std::wstring& s) {
    return s.c_str();
}
template <class T> T MessageArg(T value) {
    static_assert(std::is_arithmetic<T>::value || std::is_pointer<T>::value, "unsupported message argument");
    return value;
}
} // namespace detail

// Formats message `id` with printf-style arguments ("%s" wide text, "%u", "%i").
// std::wstring arguments may be passed directly. Output cut at 1,023 characters.
// The resource module's text is taken only when its conversions are those of
// the built-in text; otherwise the built-in text is, and message 146 says so
// once for that id. Returns false, leaving `out` unchanged, when no table has the id.
template <class... Args> bool FormatResourceMessage(WORD id, std::wstring& out, const Args&... args) {
    return detail::FormatResourceMessageImpl(id, &out, detail::MessageArg(args)...);
}

// The same, from one module only (null: the executable); another module's
// text only when its conversions are those of the built-in text.
template <class... Args>
bool FormatModuleMessage(HMODULE module, WORD id, std::wstring& out, const Args&... args) {
    return detail::FormatModuleMessageImpl(module, id, &out, detail::MessageArg(args)...);
}

// The text of message `id`, unformatted and uncut.
bool LoadResourceMessage(WORD id, std::wstring& out);
// The same in the ANSI code page.
bool LoadResourceMessageA(WORD id, std::string& out);
// The text from the executable's own table only (titles and labels of dialogs,
// the closing line of the log).
std::wstring LoadBuiltInMessage(WORD id);

// The resource module, loaded on the first call; null when there is none.
HMODULE GetResourceModule();

// The ids of the resource module's texts that would be passed over (their
// conversions differ from the built-in text's), in id order; none without a
// module. Nothing is logged.
std::vector<WORD> ModuleTextsPassedOver();
