#include "settings/command_line.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/test_env.h"

namespace {

struct CommandLineCase {
    const wchar_t* commandLine;
    int result;
    std::wstring offending; // on failure
    VariableMap expected;   // on success
};

const VariableMap kSentinel{{L"SENTINEL", L"kept"}};
const std::wstring kUntouched = L"untouched";

void CheckCase(const CommandLineCase& c) {
    SCOPED_TRACE(qztest::ToUtf8(c.commandLine));
    VariableMap variables = kSentinel;
    std::wstring offending = kUntouched;
    const int result = ParseCommandLineText(c.commandLine, variables, offending);
    ASSERT_EQ(c.result, result);
    if (result == 0) {
        EXPECT_EQ(c.expected, variables);
        EXPECT_EQ(kUntouched, offending);
    } else {
        EXPECT_EQ(c.offending, offending);
        EXPECT_EQ(kSentinel, variables) << "a refused command line must leave the map alone";
    }
}

TEST(ParseCommandLineText, OptionTable) {
    const CommandLineCase cases[] = {
        {LR"("C:\Program Files\QZ\qz-setup.exe")", 0, L"", {}},
        {LR"(qz-setup.exe /l a.log /p Agent /f pkg.msi /d C:\pkgs /r r.txt /e exit.txt /H help.txt)",
         0,
         L"",
         {{L"QZ_SETUP_LOG_FILE", L"a.log"},
          {L"QZ_SETUP_PACKAGE_NAME", L"Agent"},
          {L"QZ_SETUP_PACKAGE_FILE", L"pkg.msi"},
          {L"QZ_SETUP_PACKAGE_DIR", L"C:\\pkgs"},
          {L"QZ_SETUP_RESPONSE_FILE", L"r.txt"},
          {L"QZ_SETUP_EXIT_FILE", L"exit.txt"},
          {L"QZ_SETUP_HELP_FILE", L"help.txt"}}},
        {LR"(qz-setup.exe -l a.log -p Agent -f pkg.msi -d dir -r r.txt -e exit.txt -H help.txt)",
         0,
         L"",
         {{L"QZ_SETUP_LOG_FILE", L"a.log"},
          {L"QZ_SETUP_PACKAGE_NAME", L"Agent"},
          {L"QZ_SETUP_PACKAGE_FILE", L"pkg.msi"},
          {L"QZ_SETUP_PACKAGE_DIR", L"dir"},
          {L"QZ_SETUP_RESPONSE_FILE", L"r.txt"},
          {L"QZ_SETUP_EXIT_FILE", L"exit.txt"},
          {L"QZ_SETUP_HELP_FILE", L"help.txt"}}},
        // Variable names work as options, with the value following or joined by "=".
        {LR"(qz-setup.exe QZ_SETUP_PACKAGE_NAME Agent QZ_SETUP_MODE UNATTENDED QZ_SETUP_LOG_FILE=x.log)",
         0,
         L"",
         {{L"QZ_SETUP_PACKAGE_NAME", L"Agent"},
          {L"QZ_SETUP_MODE", L"UNATTENDED"},
          {L"QZ_SETUP_LOG_FILE", L"x.log"}}},
        // The joined form does not consume the next argument.
        {LR"(qz-setup.exe /p=Agent /x)",
         0,
         L"",
         {{L"QZ_SETUP_PACKAGE_NAME", L"Agent"}, {L"QZ_SETUP_MODE", L"UNINSTALL"}}},
        {LR"(qz-setup.exe /t /v)", 0, L"", {{L"QZ_SETUP_TRACE", L"1"}, {L"QZ_SETUP_VERBOSE", L"1"}}},
        {LR"(qz-setup.exe -t=0 QZ_SETUP_VERBOSE=yes)",
         0,
         L"",
         {{L"QZ_SETUP_TRACE", L"0"}, {L"QZ_SETUP_VERBOSE", L"yes"}}},
        {LR"(qz-setup.exe /t=0)", 0, L"", {{L"QZ_SETUP_TRACE", L"0"}}},
        {LR"(qz-setup.exe QZ_SETUP_TRACE=yes)", 0, L"", {{L"QZ_SETUP_TRACE", L"yes"}}},
        // A flag never takes the next argument.
        {LR"(qz-setup.exe /t A=1)", 0, L"", {{L"QZ_SETUP_TRACE", L"1"}, {L"A", L"1"}}},
        {LR"(qz-setup.exe /x=whatever)", 0, L"", {{L"QZ_SETUP_MODE", L"UNINSTALL"}}},
        {LR"(qz-setup.exe -x B=2)", 0, L"", {{L"QZ_SETUP_MODE", L"UNINSTALL"}, {L"B", L"2"}}},
        {LR"(qz-setup.exe /?)", 0, L"", {{L"QZ_SETUP_HELP", L"1"}}},
        {LR"(qz-setup.exe -help)", 0, L"", {{L"QZ_SETUP_HELP", L"1"}}},
        {LR"(qz-setup.exe /h=0 C=3)", 0, L"", {{L"QZ_SETUP_HELP", L"1"}, {L"C", L"3"}}},
        // Names are case-sensitive: /P is no option, a lower-case variable name passes through.
        {LR"(qz-setup.exe /P Agent qz_setup_package_name=x)", 0, L"", {{L"qz_setup_package_name", L"x"}}},
    };
    for (const auto& c : cases)
        CheckCase(c);
}

TEST(ParseCommandLineText, EdgeCases) {
    const CommandLineCase cases[] = {
        {LR"(qz-setup.exe /p)", 1, L"/p", {}},
        {LR"(qz-setup.exe /l=)", 1, L"/l=", {}},
        {LR"(qz-setup.exe /l= /p Agent)", 1, L"/l=", {}},
        // Collected values do not survive a later failure.
        {LR"(qz-setup.exe /p Agent A=1 -e)", 1, L"-e", {}},
        // An empty next argument is a missing value too.
        {LR"(qz-setup.exe /p "" /x)", 1, L"/p", {}},
        {LR"(qz-setup.exe QZ_SETUP_MODE=)", 1, L"QZ_SETUP_MODE=", {}},
        {LR"(qz-setup.exe /p /x)", 0, L"", {{L"QZ_SETUP_PACKAGE_NAME", L"/x"}}},
        {LR"(qz-setup.exe QZ_SUPPRESS_REBOOT)", 0, L"", {{L"QZ_SUPPRESS_REBOOT", L""}}},
        {LR"(qz-setup.exe QZ_SUPPRESS_REBOOT /p Agent)",
         0,
         L"",
         {{L"QZ_SUPPRESS_REBOOT", L"/p"}, {L"QZ_SETUP_PACKAGE_NAME", L"Agent"}}},
        {LR"(qz-setup.exe QZ_SUPPRESS_REBOOT=0)", 0, L"", {{L"QZ_SUPPRESS_REBOOT", L"0"}}},
        {LR"(qz-setup.exe /p First -p=Second)", 0, L"", {{L"QZ_SETUP_PACKAGE_NAME", L"Second"}}},
        {LR"(qz-setup.exe A=1 A=2)", 0, L"", {{L"A", L"2"}}},
        {LR"(qz-setup.exe INSTALLDIR=C:\Apps\X)", 0, L"", {{L"INSTALLDIR", L"C:\\Apps\\X"}}},
        {LR"(qz-setup.exe =value)", 0, L"", {{L"", L"value"}}},
        {LR"(qz-setup.exe EMPTY= X=a=b)", 0, L"", {{L"EMPTY", L""}, {L"X", L"a=b"}}},
        // The program path is examined like any argument.
        {LR"(C:\a=b\qz-setup.exe)", 0, L"", {{L"C:\\a", L"b\\qz-setup.exe"}}},
        // Unknown options are ignored and do not consume what follows.
        {LR"(qz-setup.exe /L /p Agent)", 0, L"", {{L"QZ_SETUP_PACKAGE_NAME", L"Agent"}}},
        {LR"(qz-setup.exe /V QZ_SETUP_TRACE=1)", 0, L"", {{L"QZ_SETUP_TRACE", L"1"}}},
        {LR"(qz-setup.exe /j /x)", 0, L"", {{L"QZ_SETUP_MODE", L"UNINSTALL"}}},
        // The system's split removes the quotes and keeps the blanks.
        {LR"(qz-setup.exe NAME="a b c" /p "My Agent")",
         0,
         L"",
         {{L"NAME", L"a b c"}, {L"QZ_SETUP_PACKAGE_NAME", L"My Agent"}}},
        {LR"(qz-setup.exe "INSTALLDIR=C:\Program Files\X" TITLE=\"q\")",
         0,
         L"",
         {{L"INSTALLDIR", L"C:\\Program Files\\X"}, {L"TITLE", L"\"q\""}}},
        // Nothing is trimmed.
        {LR"(qz-setup.exe "/p= Agent ")", 0, L"", {{L"QZ_SETUP_PACKAGE_NAME", L" Agent "}}},
    };
    for (const auto& c : cases)
        CheckCase(c);
}

TEST(ParseCommandLineText, NamesTheArgumentsItIgnoresAndTakesNothingMore) {
    // What each command line sets is what it set before; only the words that
    // set nothing are named, in order, the program's own path never.
    const struct {
        const wchar_t* commandLine;
        std::vector<std::wstring> ignored;
        VariableMap expected;
    } cases[] = {
        {LR"(qz-setup.exe /p Agent)", {}, {{L"QZ_SETUP_PACKAGE_NAME", L"Agent"}}},
        {LR"(qz-setup.exe)", {}, {}},
        {LR"(C:\Setup\qz-setup.exe /quiet)", {L"/quiet"}, {}},
        {LR"(qz-setup.exe /qn /passive /S /silent /verysilent)",
         {L"/qn", L"/passive", L"/S", L"/silent", L"/verysilent"},
         {}},
        {LR"(qz-setup.exe /P Agent /E exit.txt)", {L"/P", L"Agent", L"/E", L"exit.txt"}, {}},
        {LR"(qz-setup.exe /p Contoso Widget)", {L"Widget"}, {{L"QZ_SETUP_PACKAGE_NAME", L"Contoso"}}},
        {LR"(qz-setup.exe INSTALLDIR=C:\Program Files\Contoso Widget)",
         {L"Files\\Contoso", L"Widget"},
         {{L"INSTALLDIR", L"C:\\Program"}}},
        {LR"(qz-setup.exe /L a.log /V 9.9.9 /j C:\jre /v)",
         {L"/L", L"a.log", L"/V", L"9.9.9", L"/j", L"C:\\jre"},
         {{L"QZ_SETUP_VERBOSE", L"1"}}},
        // The word after QZ_SUPPRESS_REBOOT is its value, not an ignored word.
        {LR"(qz-setup.exe QZ_SUPPRESS_REBOOT 0 stray)", {L"stray"}, {{L"QZ_SUPPRESS_REBOOT", L"0"}}},
        // A value taken by an option is no ignored word either.
        {LR"(qz-setup.exe /l /quiet)", {}, {{L"QZ_SETUP_LOG_FILE", L"/quiet"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qztest::ToUtf8(c.commandLine));
        VariableMap variables;
        std::wstring offending;
        std::vector<std::wstring> ignored{L"left over"};
        ASSERT_EQ(0, ParseCommandLineText(c.commandLine, variables, offending, &ignored));
        EXPECT_EQ(c.ignored, ignored);
        EXPECT_EQ(c.expected, variables);
    }
    // A refused command line names nothing: it is refused as a whole.
    VariableMap variables;
    std::wstring offending;
    std::vector<std::wstring> ignored{L"left over"};
    EXPECT_EQ(1, ParseCommandLineText(L"qz-setup.exe /quiet /p", variables, offending, &ignored));
    EXPECT_EQ(std::vector<std::wstring>{L"left over"}, ignored);
}

TEST(ParseCommandLine, ReadsTheProcessCommandLine) {
    VariableMap fromProcess;
    std::wstring offending;
    ASSERT_EQ(0, ParseCommandLine(fromProcess, offending));
    VariableMap fromText;
    ASSERT_EQ(0, ParseCommandLineText(GetCommandLineW(), fromText, offending));
    EXPECT_EQ(fromText, fromProcess);
}

TEST(GetParseErrorText, DescribesOnlyTheMissingArgument) {
    const std::wstring missing = GetParseErrorText(1);
    EXPECT_FALSE(missing.empty());
    if (PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_ENGLISH) {
        EXPECT_EQ(L"Missing argument.", missing);
    }
    for (int code : {0, 2, -1})
        EXPECT_EQ(L"", GetParseErrorText(code)) << code;
}

} // namespace
