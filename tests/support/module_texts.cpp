#include "support/module_texts.h"

#include <stdexcept>
#include <vector>

#include "rsc/string_tables.h"

namespace qztest {

void PutModuleTexts(const std::wstring& module, const std::map<WORD, std::wstring>& texts, LANGID language) {
    std::vector<TableMessage> messages;
    for (const auto& [id, text] : texts)
        messages.push_back(TableMessage{language, id, text});
    HANDLE update = BeginUpdateResourceW(module.c_str(), FALSE);
    if (!update)
        throw std::runtime_error("cannot change the resources of the module");
    for (const auto& [key, data] : MakeStringBlocks(messages)) {
        if (!UpdateResourceW(update, RT_STRING, MAKEINTRESOURCEW(key.first), key.second,
                             const_cast<WCHAR*>(data.data()),
                             static_cast<DWORD>(data.size() * sizeof(WCHAR)))) {
            EndUpdateResourceW(update, TRUE);
            throw std::runtime_error("cannot put a string table into the module");
        }
    }
    if (!EndUpdateResourceW(update, FALSE))
        throw std::runtime_error("cannot write the module");
}

std::wstring BuiltInText(UINT id) {
    const wchar_t* text = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    return std::wstring(text, length > 0 ? static_cast<size_t>(length) : 0);
}

std::wstring Message(UINT id, const std::wstring& argument) {
    std::wstring text = BuiltInText(id);
    const size_t at = text.find(L"%s");
    if (at != std::wstring::npos)
        text.replace(at, 2, argument);
    return text;
}

} // namespace qztest
