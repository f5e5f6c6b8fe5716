#include "settings/variable_file.h"

#include <gtest/gtest.h>

#include <ios>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "support/test_env.h"

namespace {

struct FileCase {
    const char* name;
    std::wstring text;
    int result;
    VariableMap expected;   // on success
    std::wstring offending; // on failure
};

const VariableMap kSentinel{{L"SENTINEL", L"kept"}};
const std::wstring kUntouched = L"untouched";

TEST(ParseVariableFile, LineRules) {
    const FileCase cases[] = {
        {"empty", L"", 0, {}, L""},
        {"blank lines and comments", L"\n  \n\t\r\n#comment\n#x\n\n", 0, {}, L""},
        {"comment may hold anything", L"#A=1\n# no equals here\nB=2", 0, {{L"B", L"2"}}, L""},
        {"later line wins", L"FOO=1\nFOO=2\n", 0, {{L"FOO", L"2"}}, L""},
        {"value keeps further equals", L"FOO=x=y\nBAR=\n", 0, {{L"FOO", L"x=y"}, {L"BAR", L""}}, L""},
        {"spaces belong to name and value", L" NAME = value \n", 0, {{L" NAME ", L" value "}}, L""},
        {"tab in the name", L"\tNAME=v", 0, {{L"\tNAME", L"v"}}, L""},
        {"quotes kept", L"DIR=\"C:\\Program Files\\X\"", 0, {{L"DIR", L"\"C:\\Program Files\\X\""}}, L""},
        {"empty name ignored", L"=x\nA=1\n", 0, {{L"A", L"1"}}, L""},
        {"last line without line feed", L"A=1\nB=2", 0, {{L"A", L"1"}, {L"B", L"2"}}, L""},
        {"case-sensitive names", L"a=1\nA=2", 0, {{L"a", L"1"}, {L"A", L"2"}}, L""},
        {"line without equals", L"A=1\nx\nB=2\n", 1, {}, L"x"},
        {"indented comment", L"A=1\n #comment\n", 1, {}, L" #comment"},
        {"refused last line", L"A=1\nlast", 1, {}, L"last"},
        {"blank-padded line without equals", L"  word  \n", 1, {}, L"  word  "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VariableMap variables = kSentinel;
        std::wstring offending = kUntouched;
        ASSERT_EQ(c.result, ParseVariableFile(c.text, variables, offending));
        if (c.result == 0) {
            EXPECT_EQ(c.expected, variables);
            EXPECT_EQ(kUntouched, offending);
        } else {
            EXPECT_EQ(c.offending, offending);
            EXPECT_EQ(kSentinel, variables);
        }
    }
}

TEST(ParseVariableFile, NamesWithBlanksAroundThemAreNamedWithTheirLines) {
    // Stored as before (under the name with its blanks); named with the line
    // they stand in, blank and comment lines counted.
    const struct {
        const char* name;
        std::wstring text;
        std::vector<std::pair<std::wstring, unsigned>> named;
    } cases[] = {
        {"a blank before the equals sign", L"A=1\nB = x\n", {{L"B ", 2}}},
        {"trailing blank",
         L"#c\n\nQZ_SETUP_PACKAGE_NAME = Contoso Widget\n",
         {{L"QZ_SETUP_PACKAGE_NAME ", 3}}},
        {"leading blank and tab", L" A=1\n\tB=2\nC=3", {{L" A", 1}, {L"\tB", 2}}},
        {"blanks inside a name are no blanks around it", L"MY NAME=1\n", {}},
        {"a value's blanks do not count", L"A= 1 \n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VariableMap variables;
        std::wstring offending;
        std::vector<BlankNamedSetting> named;
        ASSERT_EQ(0, ParseVariableFile(c.text, variables, offending, &named));
        ASSERT_EQ(c.named.size(), named.size());
        for (std::size_t i = 0; i < named.size(); ++i) {
            EXPECT_EQ(c.named[i].first, named[i].name);
            EXPECT_EQ(c.named[i].second, named[i].line);
            EXPECT_EQ(1u, variables.count(named[i].name)) << "stored under the name as it stands";
        }
    }
}

TEST(ParseVariableFile, ManyLines) {
    std::wstring text;
    for (int i = 0; i < 3000; ++i)
        text += L"NAME" + std::to_wstring(i) + L"=value " + std::to_wstring(i) + L"\n";
    VariableMap variables;
    std::wstring offending;
    ASSERT_EQ(0, ParseVariableFile(text, variables, offending));
    EXPECT_EQ(3000u, variables.size());
    EXPECT_EQ(L"value 2999", variables[L"NAME2999"]);
}

class LoadPIFRspFileTest : public ::testing::Test {
protected:
    int Load(const std::string& bytes, VariableMap& variables, std::wstring& offending) {
        const std::wstring path = m_dir / L"settings.dat";
        qztest::WriteFileBytes(path, bytes);
        return LoadPIFRspFile(path, variables, offending);
    }

    qztest::TempDir m_dir;
};

TEST_F(LoadPIFRspFileTest, WindowsTextFiles) {
    const struct {
        const char* name;
        std::string bytes;
        int result;
        VariableMap expected;
        std::wstring offending;
    } cases[] = {
        {"byte-order mark and comment first",
         "\xEF\xBB\xBF#settings for this distribution\r\nQZ_SETUP_PACKAGE_NAME=Agent\r\n"
         "INSTALLDIR=%ProgramFiles%\\Agent",
         0,
         {{L"QZ_SETUP_PACKAGE_NAME", L"Agent"}, {L"INSTALLDIR", L"%ProgramFiles%\\Agent"}},
         L""},
        {"byte-order mark and assignment first",
         "\xEF\xBB\xBF"
         "A=1\r\n",
         0,
         {{L"A", L"1"}},
         L""},
        {"empty file", "", 0, {}, L""},
        {"only a byte-order mark", "\xEF\xBB\xBF", 0, {}, L""},
        {"CR LF line ends", "A=1\r\nB=\r\nC=3\r\n", 0, {{L"A", L"1"}, {L"B", L""}, {L"C", L"3"}}, L""},
        {"LF line ends", "A=1\nB=2", 0, {{L"A", L"1"}, {L"B", L"2"}}, L""},
        {"UTF-8 text",
         "NAME=Gr\xC3\xBC\xC3\x9F"
         "e \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80\r\n",
         0,
         {{L"NAME", L"Gr\u00FC\u00DFe \u65E5\u672C \U0001F600"}},
         L""},
        {"CTRL+Z ends the data",
         "A=1\r\n\x1A"
         "B=2\r\nnot an assignment\r\n",
         0,
         {{L"A", L"1"}},
         L""},
        {"refused line comes without CR", "A=1\r\njunk\r\nB=2\r\n", 1, {}, L"junk"},
        // Invalid bytes never refuse a file, not even where the end of the
        // file cuts a sequence short.
        {"ANSI file ending in an accented letter",
         "A=1\r\nNAME=Caf\xE9\r\n",
         0,
         {{L"A", L"1"}, {L"NAME", L"Caf\xFFFD"}},
         L""},
        {"ANSI accented letter without a last line end", "NAME=Caf\xE9", 0, {{L"NAME", L"Caf\xFFFD"}}, L""},
        {"ANSI accented letter before further lines",
         "A=Caf\xE9\r\nB=2\r\n",
         0,
         {{L"A", L"Caf\xFFFD"}, {L"B", L"2"}},
         L""},
        {"stray lead byte near the end", "A=1\r\nB=2\xF0\r\n", 0, {{L"A", L"1"}, {L"B", L"2\xFFFD"}}, L""},
        // The lead byte claims more bytes than the file has left: the line
        // after it is still a line of its own (here one without "=").
        {"lead byte reaching into the last line", "B=\xF0\r\nC", 1, {}, L"C"},
        {"cut sequence ends a line without =", "A=1\r\nCaf\xE9\r\n", 1, {}, L"Caf\xFFFD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VariableMap variables = kSentinel;
        std::wstring offending = kUntouched;
        ASSERT_EQ(c.result, Load(c.bytes, variables, offending));
        if (c.result == 0) {
            EXPECT_EQ(c.expected, variables);
            EXPECT_EQ(kUntouched, offending);
        } else {
            EXPECT_EQ(c.offending, offending);
            EXPECT_EQ(kSentinel, variables);
        }
    }
}

TEST_F(LoadPIFRspFileTest, LargeFileAcrossReadBuffers) {
    // Multi-byte characters and CR LF pairs land on every possible buffer boundary.
    std::string bytes = "\xEF\xBB\xBF";
    std::wstring expectedValue;
    for (int i = 0; i < 40; ++i) {
        expectedValue += L"\u00E9\u65E5x";
    }
    const std::string utf8Value = qztest::ToUtf8(expectedValue);
    for (int i = 0; i < 500; ++i)
        bytes += "N" + std::to_string(i) + "=" + utf8Value + "\r\n";
    VariableMap variables;
    std::wstring offending;
    ASSERT_EQ(0, Load(bytes, variables, offending));
    ASSERT_EQ(500u, variables.size());
    for (const auto& entry : variables)
        ASSERT_EQ(expectedValue, entry.second) << qztest::ToUtf8(entry.first);
}

TEST_F(LoadPIFRspFileTest, UnopenableFileRaisesAfterLogging) {
    for (const std::wstring& path : {m_dir / L"missing.dat", m_dir / L"no-dir\\missing.dat", m_dir.path()}) {
        SCOPED_TRACE(qztest::ToUtf8(path));
        std::wstringbuf log;
        VariableMap variables = kSentinel;
        std::wstring offending = kUntouched;
        std::string what;
        {
            LogStreamCapture capture(log);
            try {
                LoadPIFRspFile(path, variables, offending);
                ADD_FAILURE() << "no exception";
            } catch (const std::ios_base::failure& failure) {
                what = failure.what();
                EXPECT_EQ(std::make_error_code(std::io_errc::stream), failure.code());
            }
        }
        // Exactly the description: no ": iostream error" from the runtime.
        EXPECT_EQ("Failed to open " + qztest::ToUtf8(path) + " file.", what);
        EXPECT_EQ(L"QZSETUP:BOOTSTRAP:ERR::Error occured at  Fnc : LoadPIFRspFile; Line : 117; .\n"
                  L"Error description: Failed to open " +
                      path + L" file..\r\n",
                  log.str());
        EXPECT_EQ(kSentinel, variables);
        EXPECT_EQ(kUntouched, offending);
    }
}

} // namespace
