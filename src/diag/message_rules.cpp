#include "diag/message_rules.h"

#include <algorithm>
#include <cwchar>

#include "resources/resource_ids.h"

const WORD g_plainMessageIds[5] = {IDS_UNEXPECTED_EXCEPTION, IDS_LOG_INITIATED, IDS_LOG_OPEN_FAILED,
                                   IDS_USAGE, IDS_MISSING_ARGUMENT};

const WORD g_idsNotInModule[6] = {IDS_LOG_COMPLETED,          IDS_VIEWER_TITLE,
                                  IDS_RESOURCE_MODULE_FAILED, IDS_LANGUAGE_DIALOG_TITLE,
                                  IDS_LANGUAGE_DIALOG_LABEL,  IDS_MODULE_TEXT_PASSED_OVER};

namespace {

template <std::size_t N> bool Contains(const WORD (&ids)[N], WORD id) {
    return std::find(std::begin(ids), std::end(ids), id) != std::end(ids);
}

// Reads a text conversion by conversion, as the formatter does.
class ConversionScanner {
public:
    ConversionScanner(const wchar_t* text, std::size_t length)
        : m_text(text), m_end(Terminated(text, length)) {}

    // The next conversion: where it starts and how long it is. False at the end.
    bool Next(std::size_t& start, std::size_t& count) {
        while (m_at < m_end) {
            if (m_text[m_at] != L'%') {
                ++m_at;
                continue;
            }
            if (m_at + 1 < m_end && m_text[m_at + 1] == L'%') {
                m_at += 2;
                continue;
            }
            start = m_at;
            std::size_t p = m_at + 1;
            Skip(p, L'-');
            Skip(p, L'#');
            Skip(p, L'0');
            SkipDigits(p);
            if (Skip(p, L'.'))
                SkipDigits(p);
            if (!Skip(p, L'l') && !Skip(p, L'h') && !Skip(p, L'w') && At(p, L'I')) {
                if ((At(p + 1, L'6') && At(p + 2, L'4')) || (At(p + 1, L'3') && At(p + 2, L'2')))
                    p += 3;
                else
                    p += 1;
            }
            // A type that takes an argument belongs to the conversion; any
            // other character is shown as written and read again as text.
            if (p < m_end && std::wcschr(L"cCdisSupxX", m_text[p]))
                ++p;
            m_at = p;
            count = p - start;
            return true;
        }
        return false;
    }

private:
    static std::size_t Terminated(const wchar_t* text, std::size_t length) {
        std::size_t end = 0;
        while (end < length && text[end] != L'\0')
            ++end;
        return end;
    }
    bool At(std::size_t p, wchar_t c) const { return p < m_end && m_text[p] == c; }
    bool Skip(std::size_t& p, wchar_t c) const {
        if (!At(p, c))
            return false;
        ++p;
        return true;
    }
    void SkipDigits(std::size_t& p) const {
        while (p < m_end && m_text[p] >= L'0' && m_text[p] <= L'9')
            ++p;
    }

    const wchar_t* m_text;
    std::size_t m_end;
    std::size_t m_at = 0;
};

} // namespace

bool IsPlainMessage(WORD id) {
    return Contains(g_plainMessageIds, id);
}

bool IsNeverFromModule(WORD id) {
    return Contains(g_idsNotInModule, id);
}

std::vector<std::wstring> MessageConversions(const wchar_t* text, std::size_t length) {
    std::vector<std::wstring> conversions;
    ConversionScanner scanner(text, length);
    std::size_t start = 0;
    std::size_t count = 0;
    while (scanner.Next(start, count))
        conversions.emplace_back(text + start, count);
    return conversions;
}

std::vector<std::wstring> MessageConversions(const std::wstring& text) {
    return MessageConversions(text.data(), text.size());
}

bool ConversionsMatch(const wchar_t* translated, std::size_t translatedLength, const wchar_t* builtIn,
                      std::size_t builtInLength) {
    ConversionScanner first(translated, translatedLength);
    ConversionScanner second(builtIn, builtInLength);
    for (;;) {
        std::size_t firstStart = 0, firstCount = 0, secondStart = 0, secondCount = 0;
        const bool more = first.Next(firstStart, firstCount);
        if (more != second.Next(secondStart, secondCount))
            return false;
        if (!more)
            return true;
        if (firstCount != secondCount ||
            std::wmemcmp(translated + firstStart, builtIn + secondStart, firstCount) != 0)
            return false;
    }
}
