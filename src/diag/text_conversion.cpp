#include "diag/text_conversion.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <new>

#include "system/errors.h"

namespace {

// Length of the UTF-8 sequence that starts with `lead`: its number of leading
// one bits (a stray continuation byte counts as a sequence of its own).
std::size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    std::size_t ones = 0;
    while (ones < 8 && (lead & (0x80u >> ones)))
        ++ones;
    return ones == 1 ? 1 : ones;
}

// End of the complete sequences in [from, from_end).
const char* CompleteSequencesEnd(const char* from, const char* from_end) {
    const char* p = from;
    while (p < from_end) {
        const std::size_t length = SequenceLength(static_cast<unsigned char>(*p));
        if (length > static_cast<std::size_t>(from_end - p))
            break;
        p += length;
    }
    return p;
}

int CountUtf8Characters(const char* from, std::size_t bytes) {
    return bytes == 0 ? 0 : MultiByteToWideChar(CP_UTF8, 0, from, static_cast<int>(bytes), nullptr, 0);
}

const wchar_t kWideEndOfFile = static_cast<wchar_t>(0xFFFF);
const wchar_t kReplacementCharacter = static_cast<wchar_t>(0xFFFD);
static_assert(static_cast<wchar_t>(WEOF) == kWideEndOfFile, "the wide end-of-file value is U+FFFF");

bool IsHighSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// The conversion state carries the first half of a surrogate pair from one
// call to the next (0: none), so a pair split by the stream's buffer is still
// written as one character.
static_assert(sizeof(std::mbstate_t) >= sizeof(wchar_t), "the state must hold one UTF-16 unit");

wchar_t HeldSurrogate(const std::mbstate_t& state) {
    wchar_t held;
    std::memcpy(&held, &state, sizeof held);
    return held;
}

void HoldSurrogate(std::mbstate_t& state, wchar_t held) {
    std::memcpy(&state, &held, sizeof held);
}

// `count` characters as UTF-8 into [to, to_end); the number of bytes, or -1
// when they do not fit.
int EncodeUtf8Units(const wchar_t* from, int count, char* to, char* to_end) {
    if (to == to_end)
        return -1; // no room at all: the system would only measure
    const int produced =
        WideCharToMultiByte(CP_UTF8, 0, from, count, to, static_cast<int>(to_end - to), nullptr, nullptr);
    if (produced == 0) {
        const DWORD error = GetLastError();
        if (error == ERROR_INSUFFICIENT_BUFFER)
            return -1;
        ThrowWinException(error, L" Fnc : UTF8cvt<wchar_t>::do_out; Line : 57; ");
    }
    return produced;
}

} // namespace

std::unique_ptr<char[]> _Uni2Mb(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size == 0)
        ThrowWinException(GetLastError(), L" Fnc : _Uni2Mb; Line : 13; ");
    std::unique_ptr<char[]> result(new char[size]);
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, result.get(), size, nullptr, nullptr) == 0) {
        const DWORD error = GetLastError();
        result.reset();
        ThrowWinException(error, L" Fnc : _Uni2Mb; Line : 18; ");
    }
    return result;
}

std::unique_ptr<wchar_t[]> _Mb2Uni(const char* text) {
    // A failed measurement fails the conversion too (a size of 0 would only measure again).
    const int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (size == 0)
        ThrowWinException(GetLastError(), L" Fnc : _Mb2Uni; Line : 16; ");
    std::unique_ptr<wchar_t[]> result(new wchar_t[size]);
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, result.get(), size) == 0) {
        const DWORD error = GetLastError();
        result.reset();
        ThrowWinException(error, L" Fnc : _Mb2Uni; Line : 16; ");
    }
    return result;
}

UTF8cvt<wchar_t>::result UTF8cvt<wchar_t>::do_in(state_type&, const char* from, const char* from_end,
                                                 const char*& from_next, wchar_t* to, wchar_t* to_end,
                                                 wchar_t*& to_next) const {
    from_next = from;
    to_next = to;
    const char* const complete = CompleteSequencesEnd(from, from_end);
    // No room at all: the system would only measure, not convert.
    if (complete == from || to == to_end)
        return partial;

    // Measured first: some systems convert as much as fits instead of failing,
    // which would cut a surrogate pair in half.
    const int length = static_cast<int>(complete - from);
    const int needed = MultiByteToWideChar(CP_UTF8, 0, from, length, nullptr, 0);
    if (needed > to_end - to)
        return partial;
    const int produced =
        needed == 0 ? 0 : MultiByteToWideChar(CP_UTF8, 0, from, length, to, static_cast<int>(to_end - to));
    if (produced == 0) {
        const DWORD error = GetLastError();
        if (error == ERROR_INSUFFICIENT_BUFFER)
            return partial;
        ThrowWinException(error, L" Fnc : UTF8cvt<wchar_t>::do_in; Line : 28; ");
    }
    // On Windows a wide character stream's end-of-file value is 0xFFFF: a
    // U+FFFF read from a file would end the reading there, silently dropping
    // the rest. It is a noncharacter, so it reads as the replacement character.
    for (wchar_t* c = to; c != to + produced; ++c)
        if (*c == kWideEndOfFile)
            *c = kReplacementCharacter;
    from_next = complete;
    to_next = to + produced;
    return complete == from_end ? ok : partial;
}

UTF8cvt<wchar_t>::result UTF8cvt<wchar_t>::do_out(state_type& state, const wchar_t* from,
                                                  const wchar_t* from_end, const wchar_t*& from_next,
                                                  char* to, char* to_end, char*& to_next) const {
    from_next = from;
    to_next = to;
    if (from == from_end)
        return ok;

    // A pair whose first half ended the previous call.
    const wchar_t* begin = from;
    char* out = to;
    if (const wchar_t held = HeldSurrogate(state)) {
        const bool paired = IsLowSurrogate(*begin);
        const wchar_t pair[2] = {held, *begin};
        const int produced = EncodeUtf8Units(pair, paired ? 2 : 1, out, to_end);
        if (produced < 0)
            return partial;
        HoldSurrogate(state, 0);
        out += produced;
        if (paired)
            ++begin;
        from_next = begin;
        to_next = out;
    }

    // A first half at the end waits for its second half in the next call.
    const wchar_t* end = from_end;
    if (end > begin && IsHighSurrogate(end[-1]))
        --end;
    if (end > begin) {
        const int produced = EncodeUtf8Units(begin, static_cast<int>(end - begin), out, to_end);
        if (produced < 0)
            return partial;
        out += produced;
    }
    if (end != from_end)
        HoldSurrogate(state, *end);
    from_next = from_end;
    to_next = out;
    return ok;
}

UTF8cvt<wchar_t>::result UTF8cvt<wchar_t>::do_unshift(state_type& state, char* to, char* to_end,
                                                      char*& to_next) const {
    to_next = to;
    const wchar_t held = HeldSurrogate(state);
    if (!held)
        return noconv;
    // A first half that never got its second half: written as the system writes a lone surrogate.
    const int produced = EncodeUtf8Units(&held, 1, to, to_end);
    if (produced < 0)
        return partial;
    HoldSurrogate(state, 0);
    to_next = to + produced;
    return ok;
}

int UTF8cvt<wchar_t>::do_length(state_type&, const char* from, const char* from_end, std::size_t max) const {
    const std::size_t total = static_cast<std::size_t>(from_end - from);
    if (static_cast<std::size_t>(CountUtf8Characters(from, total)) <= max)
        return static_cast<int>(total);

    // Whole sequences only, so the length never ends inside a character: add
    // them while the count stays within the maximum.
    const char* p = from;
    std::size_t count = 0;
    while (p < from_end) {
        const std::size_t length = SequenceLength(static_cast<unsigned char>(*p));
        if (length > static_cast<std::size_t>(from_end - p))
            break;
        const std::size_t characters = static_cast<std::size_t>(CountUtf8Characters(p, length));
        if (count + characters > max)
            break;
        count += characters;
        p += length;
    }
    return static_cast<int>(p - from);
}

std::string EncodeUtf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr,
                            nullptr);
    return bytes;
}

std::wstring DecodeUtf8(const std::string& bytes) {
    // Never more characters than bytes: a sequence of n bytes gives at most n
    // UTF-16 units, a malformed byte at most one replacement character.
    std::wstring text(bytes.size(), L'\0');
    const UTF8cvt<wchar_t> facet(1); // not owned by a locale
    const char* const end = bytes.data() + bytes.size();
    const char* from = bytes.data();
    wchar_t* to = text.empty() ? nullptr : &text[0];
    wchar_t* const to_end = to + text.size();
    while (from != end) {
        std::mbstate_t state{};
        const char* from_next = from;
        wchar_t* to_next = to;
        facet.in(state, from, end, from_next, to, to_end, to_next);
        from = from_next;
        to = to_next;
        if (from == end || to == to_end)
            break;

        // A sequence that the end of the bytes cut short: its lead byte and the
        // continuation bytes that follow it, decoded the way the system decodes
        // malformed bytes. What comes after them is text of its own (the system
        // would swallow a line end that follows a lone lead byte at the end).
        const char* cut = from + 1;
        while (cut != end && (static_cast<unsigned char>(*cut) & 0xC0) == 0x80)
            ++cut;
        const int produced = MultiByteToWideChar(CP_UTF8, 0, from, static_cast<int>(cut - from), to,
                                                 static_cast<int>(to_end - to));
        if (produced > 0)
            to += produced;
        else
            *to++ = L'\xFFFD';
        from = cut;
    }
    text.resize(static_cast<std::size_t>(to - (text.empty() ? nullptr : &text[0])));
    return text;
}

DecimalDigits::DecimalDigits(long long value) noexcept : m_first(sizeof m_text) {
    // The magnitude as unsigned, so that the smallest value has one too.
    unsigned long long rest =
        value < 0 ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    do {
        m_text[--m_first] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (value < 0)
        m_text[--m_first] = '-';
}
