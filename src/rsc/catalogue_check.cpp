#include "rsc/catalogue_check.h"

#include <algorithm>
#include <map>
#include <utility>

#include "resources/resource_ids.h"

namespace {

constexpr WORD kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

std::string Join(const std::vector<std::wstring>& conversions) {
    if (conversions.empty())
        return "none";
    std::string joined;
    for (const auto& conversion : conversions)
        joined += (joined.empty() ? "" : " ") + ToUtf8(conversion);
    return joined;
}

// Whether Windows knows the language: a full language id, or a primary
// language alone (sublanguage 0), which stands for all its variants.
bool IsKnownLanguage(WORD language) {
    if (PRIMARYLANGID(language) == LANG_NEUTRAL)
        return false;
    wchar_t name[LOCALE_NAME_MAX_LENGTH];
    return LCIDToLocaleName(MAKELCID(language, SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH,
                            LOCALE_ALLOW_NEUTRAL_NAMES) > 0;
}

} // namespace

std::vector<TableMessage> ModuleMessages(HMODULE module) {
    std::vector<TableMessage> messages = ReadStringTables(module);
    messages.erase(std::remove_if(messages.begin(), messages.end(),
                                  [](const TableMessage& m) { return IsNeverFromModule(m.id); }),
                   messages.end());
    return messages;
}

bool CheckMessages(const std::vector<TableMessage>& messages, const std::vector<unsigned>& lines,
                   const std::vector<TableMessage>& english, MessageFileError& error) {
    std::map<WORD, const std::wstring*> catalogue;
    for (const TableMessage& message : english)
        if (message.language == kEnglish && !IsNeverFromModule(message.id))
            catalogue[message.id] = &message.text;

    if (messages.empty()) {
        error = {0, "no message at all"};
        return false;
    }
    std::map<std::pair<WORD, WORD>, unsigned> seen;
    for (std::size_t n = 0; n < messages.size(); ++n) {
        const TableMessage& message = messages[n];
        const unsigned line = n < lines.size() ? lines[n] : 0;
        const std::string id = std::to_string(message.id);
        if (IsNeverFromModule(message.id)) {
            error = {line, "message " + id + " is never looked up in a resource module"};
            return false;
        }
        const auto source = catalogue.find(message.id);
        if (source == catalogue.end()) {
            error = {line, "message " + id + " is not in the catalogue of this version"};
            return false;
        }
        if (!IsKnownLanguage(message.language)) {
            error = {line,
                     "language " + std::to_string(message.language) + " is not a language Windows knows"};
            return false;
        }
        const auto first = seen.emplace(std::make_pair(message.language, message.id), line);
        if (!first.second) {
            error = {line, "message " + id + " in language " + std::to_string(message.language) +
                               " is there already, on line " + std::to_string(first.first->second)};
            return false;
        }
        if (message.text.empty()) {
            error = {line, "message " + id + " is empty"};
            return false;
        }
        const bool plain = IsPlainMessage(message.id);
        const std::vector<std::wstring> expected = MessageConversions(*source->second);
        const std::vector<std::wstring> found = MessageConversions(message.text);
        if (!plain && found != expected) {
            error = {line, "message " + id + " has the conversions " + Join(found) +
                               ", the English text has " + Join(expected) + " (in this order)"};
            return false;
        }
        if (message.text.size() > (plain ? kStringTableLimit : kFormattedTextLimit)) {
            error = {line, "message " + id + " is " + std::to_string(message.text.size()) +
                               " characters long; at most " +
                               std::to_string(plain ? kStringTableLimit : kFormattedTextLimit) +
                               " are taken"};
            return false;
        }
    }
    return true;
}
