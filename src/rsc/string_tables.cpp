#include "rsc/string_tables.h"

#include <algorithm>
#include <exception>
#include <tuple>

namespace {

// What the enumeration collects. The callbacks run inside the system's
// frames: what goes wrong there (an allocation) is kept, the enumeration
// stopped, and it is raised again once the system has returned.
struct Reading {
    HMODULE module;
    std::vector<TableMessage> messages;
    std::exception_ptr failure;
};

void ReadBlock(Reading& reading, WORD block, WORD language) {
    const HRSRC found = FindResourceExW(reading.module, RT_STRING, MAKEINTRESOURCEW(block), language);
    if (!found)
        return;
    const auto* data = static_cast<const WCHAR*>(LockResource(LoadResource(reading.module, found)));
    if (!data)
        return;
    const DWORD size = SizeofResource(reading.module, found) / sizeof(WCHAR);
    DWORD at = 0;
    for (unsigned n = 0; n < 16 && at < size; ++n) {
        const DWORD length = data[at++];
        if (at + length > size)
            break;
        if (length > 0)
            reading.messages.push_back(TableMessage{language, static_cast<WORD>((block - 1u) * 16u + n),
                                                    std::wstring(data + at, length)});
        at += length;
    }
}

BOOL CALLBACK OnLanguage(HMODULE, LPCWSTR, LPCWSTR name, WORD language, LONG_PTR context) noexcept {
    Reading& reading = *reinterpret_cast<Reading*>(context);
    try {
        ReadBlock(reading, static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name)), language);
        return TRUE;
    } catch (...) {
        reading.failure = std::current_exception();
        return FALSE;
    }
}

BOOL CALLBACK OnName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR context) noexcept {
    if (IS_INTRESOURCE(name))
        EnumResourceLanguagesW(module, type, name, OnLanguage, context);
    return reinterpret_cast<Reading*>(context)->failure ? FALSE : TRUE;
}

} // namespace

std::vector<TableMessage> ReadStringTables(HMODULE module) {
    Reading reading{module, {}, nullptr};
    EnumResourceNamesW(module, RT_STRING, OnName, reinterpret_cast<LONG_PTR>(&reading));
    if (reading.failure)
        std::rethrow_exception(reading.failure);
    std::sort(reading.messages.begin(), reading.messages.end(),
              [](const TableMessage& a, const TableMessage& b) {
                  return std::tie(a.language, a.id) < std::tie(b.language, b.id);
              });
    return reading.messages;
}

std::map<std::pair<WORD, WORD>, std::vector<WCHAR>>
MakeStringBlocks(const std::vector<TableMessage>& messages) {
    // The 16 strings of each block and language, empty where there is none.
    std::map<std::pair<WORD, WORD>, std::vector<std::wstring>> slots;
    for (const TableMessage& message : messages) {
        auto& block = slots[{static_cast<WORD>(message.id / 16 + 1), message.language}];
        block.resize(16);
        block[message.id % 16] = message.text;
    }
    std::map<std::pair<WORD, WORD>, std::vector<WCHAR>> blocks;
    for (const auto& [key, strings] : slots) {
        std::vector<WCHAR>& data = blocks[key];
        for (const std::wstring& text : strings) {
            data.push_back(static_cast<WCHAR>(text.size()));
            data.insert(data.end(), text.begin(), text.end());
        }
    }
    return blocks;
}
