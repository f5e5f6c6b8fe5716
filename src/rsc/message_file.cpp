#include "rsc/message_file.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

// The escapes of a text: the letter after the backslash, and what it stands for.
const std::pair<wchar_t, wchar_t> g_escapes[] = {{L'n', L'\n'}, {L'r', L'\r'}, {L's', L' '}, {L'\\', L'\\'}};

std::string Escaped(const std::wstring& text) {
    std::wstring escaped;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        // A blank is escaped only at the end, where an editor might drop it.
        const bool escape = c == L'\\' || c == L'\n' || c == L'\r' || (c == L' ' && i + 1 == text.size());
        if (!escape) {
            escaped += c;
            continue;
        }
        for (const auto& [letter, meaning] : g_escapes)
            if (meaning == c) {
                escaped += L'\\';
                escaped += letter;
                break;
            }
    }
    return ToUtf8(escaped);
}

bool Unescape(const std::wstring& text, std::wstring& plain, std::string& reason) {
    plain.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'\\') {
            plain += text[i];
            continue;
        }
        if (++i == text.size()) {
            reason = "a backslash ends the line (write \\\\ for a backslash)";
            return false;
        }
        const auto known =
            std::find_if(std::begin(g_escapes), std::end(g_escapes),
                         [&](const std::pair<wchar_t, wchar_t>& e) { return e.first == text[i]; });
        if (known == std::end(g_escapes)) {
            reason = "unknown escape \\" + ToUtf8(std::wstring(1, text[i])) + " (known: \\n \\r \\s \\\\)";
            return false;
        }
        plain += known->second;
    }
    return true;
}

// A decimal number of at most five digits, then one blank.
bool ReadNumber(const std::wstring& line, std::size_t& at, WORD& value) {
    const std::size_t start = at;
    unsigned number = 0;
    while (at < line.size() && line[at] >= L'0' && line[at] <= L'9' && at - start < 5)
        number = number * 10 + static_cast<unsigned>(line[at++] - L'0');
    if (at == start || number > 0xFFFF || at == line.size() || line[at] != L' ')
        return false;
    ++at;
    value = static_cast<WORD>(number);
    return true;
}

} // namespace

std::string ToUtf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr,
                            nullptr);
    return bytes;
}

bool FromUtf8(const std::string& bytes, std::wstring& text) {
    text.clear();
    if (bytes.empty())
        return true;
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                         static_cast<int>(bytes.size()), nullptr, 0);
    if (size <= 0)
        return false;
    text.resize(static_cast<std::size_t>(size));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                               &text[0], size) == size;
}

std::string WriteMessageFile(const std::vector<TableMessage>& messages,
                             const std::vector<std::string>& header) {
    std::string file;
    for (const std::string& line : header)
        file += "# " + line + "\n";
    for (const TableMessage& message : messages)
        file += std::to_string(message.language) + " " + std::to_string(message.id) + " " +
                Escaped(message.text) + "\n";
    return file;
}

bool ReadMessageFile(const std::string& bytes, std::vector<TableMessage>& messages,
                     std::vector<unsigned>& lines, MessageFileError& error) {
    messages.clear();
    lines.clear();
    std::size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    unsigned number = 0;
    while (start < bytes.size()) {
        ++number;
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string raw = bytes.substr(start, end - start);
        start = end + 1;
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();

        std::wstring line;
        if (!FromUtf8(raw, line)) {
            error = {number, "the line is not valid UTF-8"};
            return false;
        }
        if (line.empty() || line[0] == L'#')
            continue;

        TableMessage message;
        std::size_t at = 0;
        if (!ReadNumber(line, at, message.language) || !ReadNumber(line, at, message.id)) {
            error = {number, "expected LANGUAGE ID TEXT (two decimal numbers, each followed by one blank)"};
            return false;
        }
        std::string reason;
        if (!Unescape(line.substr(at), message.text, reason)) {
            error = {number, reason};
            return false;
        }
        messages.push_back(std::move(message));
        lines.push_back(number);
    }
    return true;
}
