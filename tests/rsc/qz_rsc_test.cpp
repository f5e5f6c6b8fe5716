// qz-rsc, the resource-module builder, run as a translator runs it: dump the
// catalogue of the built qz-setup.exe, build a module from a message file,
// and every refusal with its line and reason, leaving the output untouched.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "qz-version.h"
#include "rsc/catalogue_check.h"
#include "rsc/message_file.h"
#include "rsc/string_tables.h"
#include "support/process_runner.h"
#include "support/test_env.h"
#include "support/version_info.h"
#include "system/win_owners.h"

// Messages compare by language, id and text (found by the vectors' comparison).
inline bool operator==(const TableMessage& a, const TableMessage& b) {
    return a.language == b.language && a.id == b.id && a.text == b.text;
}

namespace {

std::wstring RscExe() {
    return qztest::BinDir() + L"qz-rsc.exe";
}

struct RscRun {
    DWORD exitCode = 0;
    std::string output; // standard output and error together
};

RscRun RunRsc(const qztest::TempDir& dir, const std::vector<std::wstring>& arguments) {
    qztest::ProcessOptions options;
    options.outputFile = dir / L"rsc-output.txt";
    const qztest::ProcessResult result = qztest::RunProgramArgs(RscExe(), arguments, options);
    EXPECT_FALSE(result.timedOut);
    return RscRun{result.exitCode, qztest::ReadFileBytes(options.outputFile)};
}

// The messages of a module file, loaded as data.
std::vector<TableMessage> MessagesOf(const std::wstring& module) {
    const UniqueModule loaded(LoadLibraryExW(module.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    EXPECT_TRUE(loaded.valid()) << qztest::ToUtf8(module);
    return loaded.valid() ? ReadStringTables(loaded.get()) : std::vector<TableMessage>();
}

// The catalogue's messages without those a module never serves.
std::vector<TableMessage> Overridable(std::vector<TableMessage> messages) {
    messages.erase(std::remove_if(messages.begin(), messages.end(),
                                  [](const TableMessage& m) {
                                      return std::count(std::begin(g_idsNotInModule),
                                                        std::end(g_idsNotInModule), m.id) != 0;
                                  }),
                   messages.end());
    return messages;
}

// The 8.3 name of an existing file, or the name itself when it has none.
std::wstring ShortName(const std::wstring& path) {
    wchar_t buffer[MAX_PATH] = L"";
    const DWORD length = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : path;
}

class RscTool : public ::testing::Test {
protected:
    void SetUp() override {
        const RscRun run = RunRsc(m_dir, {L"dump", qztest::SetupExePath(), m_dir / L"messages.txt"});
        ASSERT_EQ(0u, run.exitCode) << run.output;
        m_dump = qztest::ReadFileBytes(m_dir / L"messages.txt");
    }

    qztest::TempDir m_dir;
    std::string m_dump;
};

TEST_F(RscTool, ExitCodesOfTheCommandLine) {
    qztest::WriteFileBytes(m_dir / L"not-a-program.exe", "just text");
    ASSERT_TRUE(CreateHardLinkW((m_dir / L"linked.txt").c_str(), (m_dir / L"messages.txt").c_str(), nullptr));
    qztest::CopyFileOrThrow(m_dir / L"messages.txt", m_dir / L"translated messages.txt");
    ASSERT_NE(m_dir / L"translated messages.txt", ShortName(m_dir / L"translated messages.txt"));
    const std::wstring missing = m_dir / L"missing.txt";
    const struct {
        const char* what;
        std::vector<std::wstring> arguments;
        DWORD exitCode;
        std::string output; // a piece of what it prints
    } cases[] = {
        {"help", {L"--help"}, 0, "qz-rsc " QZ_VERSION_TEXT " - builds qz-setup.rsc"},
        {"help names the exit codes", {L"/?"}, 0, "Exit codes: 0 done; 1 input refused"},
        {"nothing", {}, 2, "unknown command line"},
        {"dump without its files", {L"dump"}, 2, "Usage:"},
        {"build with one file", {L"build", m_dir / L"messages.txt"}, 2, "Usage:"},
        {"an unknown command", {L"make", L"a", L"b"}, 2, "Usage:"},
        {"dump of a program that is not there", {L"dump", missing, m_dir / L"out.txt"}, 3, "cannot be read"},
        {"dump of a file that is no program",
         {L"dump", m_dir / L"not-a-program.exe", m_dir / L"out.txt"},
         1,
         "not a program"},
        {"build from a file that is not there", {L"build", missing, m_dir / L"out.rsc"}, 3, "cannot be read"},
        {"build into a folder that is not there",
         {L"build", m_dir / L"messages.txt", m_dir / L"no such folder\\qz-setup.rsc"},
         3,
         "cannot be written"},
        {"build onto its own message file",
         {L"build", m_dir / L"messages.txt", m_dir / L"MESSAGES.TXT"},
         2,
         "would replace the input file"},
        {"dump onto the program",
         {L"dump", m_dir / L"not-a-program.exe", m_dir / L"not-a-program.exe"},
         2,
         "would replace the input file"},
        {"build onto a hard link of its message file",
         {L"build", m_dir / L"messages.txt", m_dir / L"linked.txt"},
         2,
         "would replace the input file"},
        {"build onto its message file by its short name",
         {L"build", m_dir / L"translated messages.txt", ShortName(m_dir / L"translated messages.txt")},
         2,
         "would replace the input file"},
        {"build onto its message file by its \\\\?\\ name",
         {L"build", m_dir / L"messages.txt", L"\\\\?\\" + m_dir / L"messages.txt"},
         2,
         "would replace the input file"},
        {"dump into a folder that is not there",
         {L"dump", qztest::SetupExePath(), m_dir / L"no such folder\\messages.txt"},
         3,
         "cannot be written"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const RscRun run = RunRsc(m_dir, c.arguments);
        EXPECT_EQ(c.exitCode, run.exitCode);
        EXPECT_NE(std::string::npos, run.output.find(c.output)) << run.output;
    }
    EXPECT_FALSE(qztest::PathExists(m_dir / L"out.txt"));
    EXPECT_FALSE(qztest::PathExists(m_dir / L"out.rsc"));
    EXPECT_EQ(m_dump, qztest::ReadFileBytes(m_dir / L"messages.txt")) << "the message file is kept";
    EXPECT_EQ("just text", qztest::ReadFileBytes(m_dir / L"not-a-program.exe"));
}

TEST_F(RscTool, TheDumpHoldsEveryLanguageAndEveryIdAModuleMayServe) {
    // Plain UTF-8 with LF line ends, a header naming what is left out.
    EXPECT_NE(0, m_dump.compare(0, 3, "\xEF\xBB\xBF"));
    EXPECT_EQ(std::string::npos, m_dump.find('\r'));
    EXPECT_NE(std::string::npos, m_dump.find("# Messages of qz-setup.exe " QZ_VERSION_TEXT));
    EXPECT_NE(std::string::npos, m_dump.find("110, 114, 116, 139, 140, 146."));

    std::vector<TableMessage> dumped;
    std::vector<unsigned> lines;
    MessageFileError error;
    ASSERT_TRUE(ReadMessageFile(m_dump, dumped, lines, error)) << error.line << ": " << error.reason;
    const std::vector<TableMessage> built = MessagesOf(qztest::SetupExePath());
    EXPECT_EQ(Overridable(built), dumped);

    std::set<WORD> languages;
    for (const auto& message : dumped)
        languages.insert(message.language);
    EXPECT_EQ((std::set<WORD>{1033, 1036, 1041, 2052}), languages);
    // The usage text keeps its line feeds and its last blank through the file.
    EXPECT_NE(std::string::npos, m_dump.find("\n1033 113 Usage: qz-setup.exe /p package-name [/x]\\n"));
    EXPECT_NE(std::string::npos, m_dump.find("for /h.\\s\n"));
}

TEST_F(RscTool, ADumpRebuiltUnchangedHoldsExactlyTheBuiltInTexts) {
    const std::wstring module = m_dir / L"qz-setup.rsc";
    const RscRun run = RunRsc(m_dir, {L"build", m_dir / L"messages.txt", module});
    ASSERT_EQ(0u, run.exitCode) << run.output;
    EXPECT_EQ(Overridable(MessagesOf(qztest::SetupExePath())), MessagesOf(module));
    EXPECT_FALSE(qztest::PathExists(module + L".qz-rsc-new"));

    // A resource module without code: no entry point, no executable section.
    const std::string bytes = qztest::ReadFileBytes(module);
    ASSERT_GT(bytes.size(), sizeof(IMAGE_DOS_HEADER));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
    ASSERT_EQ(IMAGE_DOS_SIGNATURE, dos->e_magic);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(bytes.data() + dos->e_lfanew);
    ASSERT_EQ(IMAGE_NT_SIGNATURE, nt->Signature);
    EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(0u, nt->OptionalHeader.AddressOfEntryPoint);
    const auto* section = IMAGE_FIRST_SECTION(nt);
    for (WORD n = 0; n < nt->FileHeader.NumberOfSections; ++n, ++section)
        EXPECT_FALSE(section->Characteristics & (IMAGE_SCN_CNT_CODE | IMAGE_SCN_MEM_EXECUTE))
            << reinterpret_cast<const char*>(section->Name);
}

TEST_F(RscTool, RefusesWithTheLineAndTheReasonAndWritesNothing) {
    const std::string longText(1024, 'x');
    const struct {
        const char* what;
        std::string file;
        unsigned line; // 0: the file as a whole
        std::string reason;
    } cases[] = {
        {"an id the catalogue does not have", "1031 999 Text\n", 1, "message 999 is not in the catalogue"},
        {"the viewer's title", "1031 114 QZ Setup\n", 1,
         "message 114 is never looked up in a resource module"},
        {"the log's closing line", "1031 110 Fertig.\n", 1, "message 110 is never looked up"},
        {"the language dialog's label", "1031 140 Sprache:\n", 1, "message 140 is never looked up"},
        {"a conversion too few", "1031 124 Paket %s nicht in %s.\n", 1,
         "message 124 has the conversions %s %s, the English text has %s %s %s"},
        {"another conversion", "1031 141 Datei \"%s\" mit %s.\n", 1,
         "message 141 has the conversions %s %s, the English text has %s %u"},
        {"conversions out of order", "1031 143 %u %s %s\n", 1,
         "message 143 has the conversions %u %s %s, the English text has %s %u %s (in this order)"},
        {"a conversion in a text without one", "1031 130 %s fehlt.\n", 1,
         "message 130 has the conversions %s, the English text has none"},
        {"a formatted text one character too long", "1031 130 " + longText + "\n", 1,
         "message 130 is 1024 characters long; at most 1023 are taken"},
        {"a stray percent sign", "1031 130 Zu 100% nicht gefunden.\n", 1,
         "message 130 has the conversions %, the English text has none"},
        {"a conversion hidden behind an unknown one", "1031 130 %-%s\n", 1,
         "message 130 has the conversions %- %s, the English text has none"},
        {"not UTF-8",
         "# German\n1031 130 Gr\xFC\xDF"
         "e\n",
         2, "the line is not valid UTF-8"},
        {"a language Windows does not know", "9999 130 Text\n", 1,
         "language 9999 is not a language Windows knows"},
        {"the neutral language", "0 130 Text\n", 1, "language 0 is not a language Windows knows"},
        {"no message at all", "# nothing but a comment\n\n", 0, "no message at all"},
        {"an empty file", "", 0, "no message at all"},
        {"a line without its id", "1031 Text\n", 1, "expected LANGUAGE ID TEXT"},
        {"two blanks", "1031  130 Text\n", 1, "expected LANGUAGE ID TEXT"},
        {"an unknown escape", "1031 130 a\\tb\n", 1, "unknown escape \\t"},
        {"a backslash at the end", "1031 130 a\\\n", 1, "a backslash ends the line"},
        {"the same message twice", "1031 130 Eins\r\n1031 130 Zwei\r\n", 2,
         "message 130 in language 1031 is there already, on line 1"},
        {"an empty text", "1031 130 \n", 1, "message 130 is empty"},
        {"a refusal further down", "# German\n1031 130 Gut.\n1031 124 %u\n", 3,
         "message 124 has the conversions %u"},
    };
    const std::wstring output = m_dir / L"qz-setup.rsc";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        qztest::WriteFileBytes(m_dir / L"de.txt", c.file);
        qztest::WriteFileBytes(output, "the module from before");
        const RscRun run = RunRsc(m_dir, {L"build", m_dir / L"de.txt", output});
        EXPECT_EQ(1u, run.exitCode);
        const std::string where = qztest::ToUtf8(m_dir / L"de.txt") +
                                  (c.line ? ":" + std::to_string(c.line) : std::string()) + ": ";
        EXPECT_NE(std::string::npos, run.output.find(where + c.reason)) << run.output;
        EXPECT_NE(std::string::npos, run.output.find("nothing written")) << run.output;
        EXPECT_EQ("the module from before", qztest::ReadFileBytes(output));
        EXPECT_FALSE(qztest::PathExists(output + L".qz-rsc-new"));
    }
}

TEST_F(RscTool, TakesWhatTheBootstrapperCanServe) {
    const struct {
        const char* what;
        std::string file;
    } cases[] = {
        {"a neutral German and a German of Germany", "7 130 Nicht gefunden.\n1031 124 %s, %s, %s\n"},
        {"a literal percent sign", "1031 130 Zu 100%% nicht gefunden.\n"},
        {"a formatted text as long as the formatter writes", "1031 130 " + std::string(1023, 'y') + "\n"},
        {"a byte-order mark, CR LF and comments", "\xEF\xBB\xBF# German\r\n\r\n1031 130 Nicht gefunden.\r\n"},
        {"the usage text is taken plain, whatever its length", "1031 113 " + std::string(1500, 'u') + "\n"},
        {"a percent sign in a plain text is shown as written", "1031 109 Zu 100% unerwartet.\n"},
        {"escapes", "1031 130 a\\\\b\\nc\\rd\\s\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        qztest::WriteFileBytes(m_dir / L"de.txt", c.file);
        DeleteFileW((m_dir / L"qz-setup.rsc").c_str());
        const RscRun run = RunRsc(m_dir, {L"build", m_dir / L"de.txt", m_dir / L"qz-setup.rsc"});
        EXPECT_EQ(0u, run.exitCode) << run.output;
        EXPECT_FALSE(MessagesOf(m_dir / L"qz-setup.rsc").empty());
    }
    // What the escapes stand for.
    const std::vector<TableMessage> messages = MessagesOf(m_dir / L"qz-setup.rsc");
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(L"a\\b\nc\rd ", messages[0].text);
}

// The scratch file a build writes first is a file of its own: not the
// message file, even when that bears the scratch file's usual name.
TEST_F(RscTool, TheScratchFileIsNeverTheInput) {
    const std::wstring input = m_dir / L"qz-setup.rsc.qz-rsc-new";
    qztest::CopyFileOrThrow(m_dir / L"messages.txt", input);
    const RscRun run = RunRsc(m_dir, {L"build", input, m_dir / L"qz-setup.rsc"});
    ASSERT_EQ(0u, run.exitCode) << run.output;
    EXPECT_EQ(m_dump, qztest::ReadFileBytes(input)) << "the message file is kept";
    EXPECT_EQ(Overridable(MessagesOf(qztest::SetupExePath())), MessagesOf(m_dir / L"qz-setup.rsc"));
    EXPECT_FALSE(qztest::PathExists(m_dir / L"qz-setup.rsc.qz-rsc-new-2"));
}

// A program that another one holds open so that nobody may read it: the
// system's refusal, not "not a program".
TEST_F(RscTool, AProgramThatCannotBeReadIsTheSystemsRefusal) {
    const std::wstring program = m_dir / L"qz-setup.exe";
    qztest::CopyFileOrThrow(qztest::SetupExePath(), program);
    const UniqueFileHandle held(CreateFileW(program.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held.valid());
    const RscRun run = RunRsc(m_dir, {L"dump", program, m_dir / L"out.txt"});
    EXPECT_EQ(3u, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("cannot be read")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("(32)")) << run.output;
    EXPECT_FALSE(qztest::PathExists(m_dir / L"out.txt"));
}

// A version.dll planted beside qz-rsc.exe (a translator's downloads folder)
// is never loaded: the program imports no DLL that can be planted, and loads
// nothing by a bare name from its folder.
TEST_F(RscTool, APlantedVersionDllIsNeverLoaded) {
    qztest::TempDir downloads;
    const std::wstring exe = downloads / L"qz-rsc.exe";
    qztest::CopyFileOrThrow(RscExe(), exe);
    qztest::CopyFileOrThrow(qztest::BinDir() + L"qz-planted.dll", downloads / L"version.dll");
    qztest::ProcessOptions options;
    options.outputFile = downloads / L"rsc-output.txt";
    options.workingDir = downloads.path();
    for (const std::vector<std::wstring>& arguments :
         {std::vector<std::wstring>{L"--help"},
          std::vector<std::wstring>{L"dump", qztest::SetupExePath(), downloads / L"messages.txt"},
          std::vector<std::wstring>{L"build", m_dir / L"messages.txt", downloads / L"qz-setup.rsc"}}) {
        SCOPED_TRACE(qztest::ToUtf8(arguments[0]));
        const qztest::ProcessResult result = qztest::RunProgramArgs(exe, arguments, options);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(0u, result.exitCode) << qztest::ReadFileBytes(options.outputFile);
    }
    EXPECT_FALSE(qztest::PathExists(downloads / L"version.dll.loaded"));
    EXPECT_NE(std::string::npos, qztest::ReadFileBytes(downloads / L"messages.txt")
                                     .find("# Messages of qz-setup.exe " QZ_VERSION_TEXT ", written by"));
}

TEST(RscProgram, CarriesTheVersionAndRunsWithoutElevation) {
    const qztest::VersionInfo info = qztest::ReadVersionInfo(RscExe());
    ASSERT_TRUE(info.present);
    EXPECT_EQ(QZ_VERSION_WTEXT, info.strings.at(L"FileVersion"));
    EXPECT_EQ(QZ_VERSION_WTEXT, info.strings.at(L"ProductVersion"));
    EXPECT_EQ(L"QZ Setup resource-module builder", info.strings.at(L"FileDescription"));
    EXPECT_EQ(L"qz-rsc", info.strings.at(L"InternalName"));
    EXPECT_EQ(L"qz-rsc.exe", info.strings.at(L"OriginalFilename"));

    // A program whose version names "Setup" would be taken for an installer
    // and elevated without a manifest that says otherwise.
    const UniqueModule module(LoadLibraryExW(RscExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module.valid());
    const HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(nullptr, found);
    const auto* text = static_cast<const char*>(LockResource(LoadResource(module.get(), found)));
    const std::string manifest(text, SizeofResource(module.get(), found));
    EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\"")) << manifest;
}

} // namespace
