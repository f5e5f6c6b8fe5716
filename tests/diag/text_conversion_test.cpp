#include "diag/text_conversion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "diag/bootstrap_log.h"
#include "support/test_env.h"

namespace {

using Codecvt = std::codecvt<wchar_t, char, std::mbstate_t>;

// The facets' protected operations through the public interface; the locale owns the facet.
struct Facets {
    std::locale utf8{std::locale::classic(), new UTF8cvt<wchar_t>};
    std::locale raw{std::locale::classic(), new noconversion_codecvt<wchar_t>};
    const Codecvt& Utf8() const { return std::use_facet<Codecvt>(utf8); }
    const Codecvt& Raw() const { return std::use_facet<Codecvt>(raw); }
};

const char* ResultName(std::codecvt_base::result result) {
    switch (result) {
    case std::codecvt_base::ok:
        return "ok";
    case std::codecvt_base::partial:
        return "partial";
    case std::codecvt_base::error:
        return "error";
    default:
        return "noconv";
    }
}

TEST(Utf8Facet, DecodesOnlyWhatFitsAndLeavesIncompleteSequences) {
    struct Case {
        const char* name;
        std::string bytes;
        std::size_t room;
        std::codecvt_base::result result;
        std::size_t consumed;
        std::wstring produced;
    };
    const Case cases[] = {
        {"ascii", "abc", 3, std::codecvt_base::ok, 3, L"abc"},
        {"two-byte then lone lead", "\xC3\xA9\xC3", 4, std::codecvt_base::partial, 2, L"\x00E9"},
        {"only the lead of a sequence", "\xE2\x82", 4, std::codecvt_base::partial, 0, L""},
        {"four bytes into room for one", "\xF0\x9F\x98\x80", 1, std::codecvt_base::partial, 0, L""},
        {"four bytes into room for two", "\xF0\x9F\x98\x80", 2, std::codecvt_base::ok, 4, L"\xD83D\xDE00"},
        {"lone continuation byte", "\x80", 2, std::codecvt_base::ok, 1, L"\xFFFD"},
        {"mixed", "a\xE2\x82\xAC", 2, std::codecvt_base::ok, 4, L"a\x20AC"},
        {"too little room", "abc", 2, std::codecvt_base::partial, 0, L""},
        {"no room at all", "abc", 0, std::codecvt_base::partial, 0, L""},
    };
    Facets facets;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::mbstate_t state{};
        wchar_t out[8] = {};
        const char* fromNext = nullptr;
        wchar_t* toNext = nullptr;
        const auto result = facets.Utf8().in(state, c.bytes.data(), c.bytes.data() + c.bytes.size(), fromNext,
                                             out, out + c.room, toNext);
        EXPECT_STREQ(ResultName(c.result), ResultName(result));
        EXPECT_EQ(c.consumed, static_cast<std::size_t>(fromNext - c.bytes.data()));
        EXPECT_EQ(c.produced, std::wstring(out, toNext));
        EXPECT_EQ(L'\0', out[c.room < 8 ? c.room : 7]) << "wrote beyond its room";
    }
}

TEST(Utf8Facet, EncodesAllAtOnceOrNothing) {
    struct Case {
        const char* name;
        std::wstring text;
        std::size_t room;
        std::codecvt_base::result result;
        std::string produced;
    };
    const Case cases[] = {
        {"euro into two bytes", L"\x20AC", 2, std::codecvt_base::partial, ""},
        {"euro into three bytes", L"\x20AC", 3, std::codecvt_base::ok, "\xE2\x82\xAC"},
        {"mixed with surrogate pair", L"a\xD83D\xDE00", 5, std::codecvt_base::ok, "a\xF0\x9F\x98\x80"},
        {"no room at all", L"a", 0, std::codecvt_base::partial, ""},
    };
    Facets facets;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::mbstate_t state{};
        char out[8] = {};
        const wchar_t* fromNext = nullptr;
        char* toNext = nullptr;
        const auto result = facets.Utf8().out(state, c.text.data(), c.text.data() + c.text.size(), fromNext,
                                              out, out + c.room, toNext);
        EXPECT_STREQ(ResultName(c.result), ResultName(result));
        const std::size_t consumed = static_cast<std::size_t>(fromNext - c.text.data());
        EXPECT_EQ(result == std::codecvt_base::ok ? c.text.size() : 0u, consumed);
        EXPECT_EQ(c.produced, std::string(out, toNext));
        EXPECT_EQ('\0', out[c.room < 8 ? c.room : 7]) << "wrote beyond its room";
    }
}

// A stream converts its buffer in pieces; a pair cut between two pieces is
// still one four-byte character.
TEST(Utf8Facet, KeepsASurrogatePairSplitBetweenCallsWhole) {
    Facets facets;
    std::mbstate_t state{};
    const std::wstring first = L"a\xD83D";
    const std::wstring second = L"\xDE00"
                                L"b";
    char out[16] = {};
    const wchar_t* fromNext = nullptr;
    char* toNext = nullptr;
    ASSERT_EQ(std::codecvt_base::ok, facets.Utf8().out(state, first.data(), first.data() + first.size(),
                                                       fromNext, out, out + sizeof out, toNext));
    EXPECT_EQ(first.data() + first.size(), fromNext);
    std::string bytes(out, toNext);
    ASSERT_EQ(std::codecvt_base::ok, facets.Utf8().out(state, second.data(), second.data() + second.size(),
                                                       fromNext, out, out + sizeof out, toNext));
    bytes.append(out, toNext);
    EXPECT_EQ("a\xF0\x9F\x98\x80"
              "b",
              bytes);
    EXPECT_EQ(std::codecvt_base::noconv, facets.Utf8().unshift(state, out, out + sizeof out, toNext));

    // A first half that never gets its second half ends as a replacement character.
    const std::wstring lone = L"\xD83D";
    facets.Utf8().out(state, lone.data(), lone.data() + 1, fromNext, out, out + sizeof out, toNext);
    EXPECT_EQ(out, toNext);
    EXPECT_EQ(std::codecvt_base::ok, facets.Utf8().unshift(state, out, out + sizeof out, toNext));
    EXPECT_EQ("\xEF\xBF\xBD", std::string(out, toNext));
}

TEST(Utf8Facet, LengthNeverEndsInsideACharacter) {
    struct Case {
        const char* name;
        std::string bytes;
        std::size_t max;
        int length;
    };
    const Case cases[] = {
        {"all fit", "abc", 5, 3},
        {"ascii cut", "abc", 2, 2},
        {"two-byte characters", "a\xC3\xA9\xC3\xA9", 2, 3},
        {"three-byte characters", "\xE2\x82\xAC\xE2\x82\xAC", 1, 3},
        {"maximum inside a surrogate pair",
         "\xF0\x9F\x98\x80"
         "a",
         1, 0},
        {"pair counted as two",
         "\xF0\x9F\x98\x80"
         "ab",
         3, 5},
        {"truncated sequence at the end", "a\xE2\x82", 1, 1},
        {"nothing wanted", "abc", 0, 0},
    };
    Facets facets;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::mbstate_t state{};
        EXPECT_EQ(c.length,
                  facets.Utf8().length(state, c.bytes.data(), c.bytes.data() + c.bytes.size(), c.max));
    }
}

TEST(Utf8Facet, DeclaresVariableWidthWithoutState) {
    Facets facets;
    EXPECT_EQ(4, facets.Utf8().max_length());
    EXPECT_EQ(0, facets.Utf8().encoding());
    EXPECT_FALSE(facets.Utf8().always_noconv());
    EXPECT_TRUE(facets.Raw().always_noconv());

    std::mbstate_t state{};
    char out[4];
    char* next = nullptr;
    EXPECT_EQ(std::codecvt_base::noconv, facets.Utf8().unshift(state, out, out + 4, next));
    EXPECT_EQ(out, next);
}

// Through real file streams, with a text far larger than a stream buffer, so
// multi-byte sequences and surrogate pairs are split across buffer refills.
TEST(Utf8Facet, RoundTripsThroughFileStreams) {
    std::wstring text;
    for (int i = 0; i < 3000; ++i)
        text += L"a\x00E9\x20AC\xD83D\xDE00\n";
    qztest::TempDir dir;
    const std::wstring path = dir / L"text.txt";
    {
        std::wofstream out;
        out.imbue(std::locale(std::locale(), new UTF8cvt<wchar_t>));
        out.open(path.c_str(), std::ios::binary);
        out << text;
        out.close();
        ASSERT_TRUE(out);
    }
    const std::string bytes = qztest::ReadFileBytes(path);
    EXPECT_EQ(qztest::ToUtf8(text).size(), bytes.size());
    EXPECT_TRUE(qztest::ToUtf8(text) == bytes) << "the file is not the text in UTF-8";

    std::wifstream in;
    in.imbue(std::locale(std::locale(), new UTF8cvt<wchar_t>));
    in.open(path.c_str(), std::ios::binary);
    const std::wstring back{std::istreambuf_iterator<wchar_t>(in), std::istreambuf_iterator<wchar_t>()};
    EXPECT_EQ(text.size(), back.size());
    EXPECT_TRUE(text == back);
}

TEST(Utf8Facet, UPlusFFFFDoesNotEndAFileStream) {
    // 0xFFFF is the wide streams' end-of-file value on Windows: decoded as
    // it is, the character would end the reading and drop the rest.
    qztest::TempDir dir;
    const std::wstring path = dir / L"text.txt";
    qztest::WriteFileBytes(path, "before \xEF\xBF\xBF after\nNEXT=line\n");
    std::wifstream in;
    in.imbue(std::locale(std::locale(), new UTF8cvt<wchar_t>));
    in.open(path.c_str(), std::ios::binary);
    const std::wstring back{std::istreambuf_iterator<wchar_t>(in), std::istreambuf_iterator<wchar_t>()};
    EXPECT_EQ(back, L"before \xFFFD after\nNEXT=line\n");
}

TEST(AnsiConversion, MissingCharactersBecomeTheDefaultCharacter) {
    if (GetACP() != 1252)
        GTEST_SKIP() << "expectations written for code page 1252, this system uses " << GetACP();
    EXPECT_STREQ("a?b", _Uni2Mb(L"a\x4E2D"
                                L"b")
                            .get());
    EXPECT_STREQ("caf\xE9", _Uni2Mb(L"caf\x00E9").get());
    EXPECT_STREQ(L"caf\x00E9", _Mb2Uni("caf\xE9").get());
    EXPECT_STREQ(L"", _Mb2Uni("").get());
}

// Whole texts as the file readers decode them. A sequence cut short by the
// end of the bytes used to leave the facet "partial" for ever, and the file
// stream then failed the whole file ("incomplete character in file").
TEST(DecodeUtf8, InvalidAndCutSequencesBecomeReplacementCharacters) {
    const struct {
        const char* name;
        std::string bytes;
        std::wstring text;
    } cases[] = {
        {"empty", "", L""},
        {"valid text", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\n", L"a\x00E9\x20AC\xD83D\xDE00\n"},
        {"byte-order mark stays", "\xEF\xBB\xBFx", L"\xFEFFx"},
        {"ANSI text ending in an accented letter and a line end", "Caf\xE9\n", L"Caf\xFFFD\n"},
        {"ANSI letter at the very end", "Caf\xE9", L"Caf\xFFFD"},
        {"ANSI letter inside the text", "Caf\xE9\nB=2\n", L"Caf\xFFFD\nB=2\n"},
        {"stray four-byte lead near the end", "B=2\xF0\n", L"B=2\xFFFD\n"},
        {"0xFF near the end", "A=\xFF\n", L"A=\xFFFD\n"},
        {"only a lead byte", "\xE2", L"\xFFFD"},
        {"valid prefix of a sequence at the end", "x\xE2\x82", L"x\xFFFD"},
        {"lone continuation bytes", "\x80\x80", L"\xFFFD\xFFFD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring text = DecodeUtf8(c.bytes);
        EXPECT_EQ(qztest::ToUtf8(c.text), qztest::ToUtf8(text));
    }
}

// Written without the heap for the log's result line and the exit file of a
// run whose memory has run out: every width, both signs and both extremes.
TEST(DecimalDigits, WritesEveryValueWithoutGroupingOrFill) {
    const struct {
        long long value;
        const char* text;
    } cases[] = {
        {0, "0"},
        {7, "7"},
        {1603, "1603"},
        {-1, "-1"},
        {4294967295LL, "4294967295"},
        {-2147483647LL - 1, "-2147483648"},
        {9223372036854775807LL, "9223372036854775807"},
        {-9223372036854775807LL - 1, "-9223372036854775808"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const DecimalDigits digits(c.value);
        EXPECT_EQ(std::string(c.text), std::string(digits.begin(), digits.end()));
        EXPECT_EQ(std::strlen(c.text), digits.size());
    }
}

} // namespace
