#include "settings/variable_file.h"

#include <cwctype>
#include <fstream>
#include <ios>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "system/errors.h"
#include "diag/text_conversion.h"

namespace {

bool IsBlankLine(const std::wstring& text, std::wstring::size_type first, std::wstring::size_type last) {
    for (auto i = first; i < last; ++i) {
        const wint_t c = text[i];
        if (!std::iswspace(c) && !std::iswblank(c))
            return false;
    }
    return true;
}

bool IsBlank(wchar_t c) {
    return std::iswspace(static_cast<wint_t>(c)) || std::iswblank(static_cast<wint_t>(c));
}

} // namespace

int LoadPIFRspFile(const std::wstring& path, VariableMap& variables, std::wstring& offending,
                   std::vector<BlankNamedSetting>* blankNames) {
    // Text mode: the runtime turns CR LF into LF and stops at CTRL+Z. The
    // bytes are decoded as a whole, so that a sequence cut off by the end of
    // the file decodes like any other malformed bytes instead of failing the
    // stream.
    std::ifstream file(path.c_str(), std::ios_base::in);
    if (!file.is_open()) {
        const std::unique_ptr<char[]> narrowPath = _Uni2Mb(path.c_str());
        ThrowIosFailure(StreamFailure(std::string("Failed to open ") + narrowPath.get() + " file."),
                        L" Fnc : LoadPIFRspFile; Line : 117; ");
    }

    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::wstring text = DecodeUtf8(bytes);
    if (!text.empty() && text[0] == L'\xFEFF')
        text.erase(0, 1);

    return ParseVariableFile(text, variables, offending, blankNames);
}

int ParseVariableFile(const std::wstring& text, VariableMap& variables, std::wstring& offending,
                      std::vector<BlankNamedSetting>* blankNames) {
    VariableMap collected;
    std::vector<BlankNamedSetting> blanks;
    std::wstring::size_type start = 0;
    unsigned line = 0;
    while (start <= text.size()) {
        ++line;
        std::wstring::size_type end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring::size_type next = end + 1;

        if (!IsBlankLine(text, start, end) && text[start] != L'#') {
            const std::wstring::size_type equals = text.find(L'=', start);
            if (equals == std::wstring::npos || equals >= end) {
                offending.assign(text, start, end - start);
                return 1;
            }
            if (equals > start) {
                std::wstring name = text.substr(start, equals - start);
                if (IsBlank(name.front()) || IsBlank(name.back()))
                    blanks.push_back({name, line});
                collected[std::move(name)] = text.substr(equals + 1, end - equals - 1);
            }
        }
        start = next;
    }

    variables.swap(collected);
    if (blankNames)
        blankNames->swap(blanks);
    return 0;
}
