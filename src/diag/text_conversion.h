// Text crossing into other encodings: ANSI code page conversions, the UTF-8
// and pass-through stream facets, and numbers as decimal text.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdlib>
#include <cwchar>
#include <locale>
#include <memory>
#include <string>

// Wide text to the ANSI code page and back; the caller owns the result.
std::unique_ptr<char[]> _Uni2Mb(const wchar_t* text);
std::unique_ptr<wchar_t[]> _Mb2Uni(const char* text);

template <class T> struct UTF8cvt;

// Makes a wide stream read and write UTF-8.
template <> struct UTF8cvt<wchar_t> : std::codecvt<wchar_t, char, std::mbstate_t> {
    explicit UTF8cvt(std::size_t refs = 0) : std::codecvt<wchar_t, char, std::mbstate_t>(refs) {}

protected:
    int do_max_length() const noexcept override { return 4; }
    int do_encoding() const noexcept override { return 0; }
    result do_in(state_type& state, const char* from, const char* from_end, const char*& from_next,
                 wchar_t* to, wchar_t* to_end, wchar_t*& to_next) const override;
    result do_out(state_type& state, const wchar_t* from, const wchar_t* from_end, const wchar_t*& from_next,
                  char* to, char* to_end, char*& to_next) const override;
    result do_unshift(state_type&, char*, char*, char*& to_next) const override;
    int do_length(state_type& state, const char* from, const char* from_end, std::size_t max) const override;
};

template <class T> struct noconversion_codecvt;

// Makes a wide stream store its characters unconverted (UTF-16LE on disk).
template <> struct noconversion_codecvt<wchar_t> : std::codecvt<wchar_t, char, std::mbstate_t> {
    explicit noconversion_codecvt(std::size_t refs = 0) : std::codecvt<wchar_t, char, std::mbstate_t>(refs) {}

protected:
    bool do_always_noconv() const noexcept override { return true; }
};

// UTF-8 bytes to wide text through UTF8cvt. A sequence cut off by the end of
// the bytes is malformed UTF-8 like any other and decodes the way the system
// decodes malformed bytes (U+FFFD), so invalid bytes never refuse a text.
std::wstring DecodeUtf8(const std::string& bytes);
// Wide text as UTF-8 bytes (the plan, the folder check, the manifests). An
// unpaired surrogate becomes U+FFFD, as the system converts it.
std::string EncodeUtf8(const std::wstring& text);

// A number as decimal text, made without the heap, for the lines and files
// that must still be written when memory has run out: no digit grouping, no
// fill, a minus sign for negative values only. The digits are ASCII.
class DecimalDigits {
public:
    explicit DecimalDigits(long long value) noexcept;
    const char* begin() const noexcept { return m_text + m_first; }
    const char* end() const noexcept { return m_text + sizeof m_text; }
    std::size_t size() const noexcept { return sizeof m_text - m_first; }

private:
    char m_text[20]; // "-9223372036854775808"
    std::size_t m_first;
};
