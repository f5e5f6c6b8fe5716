// A module built by qz-rsc beside the real qz-setup.exe: a German
// translation reaches a German user and no one else, a dump rebuilt
// unchanged serves the built-in texts, and a module that is not one is
// reported once. Runs once more as a German user (LC_ALL=de_DE.UTF-8).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/module_texts.h"
#include "support/process_runner.h"
#include "support/setup_runner.h"
#include "support/test_env.h"

namespace {

const char kGerman124[] = "Paket namens %s f\xC3\xBCr Prozessor %s im Verzeichnis %s nicht gefunden.";
const char kGerman130[] = "Das Installationspaket wurde nicht gefunden.";

class RscModuleRun : public ::testing::Test {
protected:
    void SetUp() override {
        qztest::InstallSetupExe(m_dir.path());
        ASSERT_EQ(0u, Rsc({L"dump", qztest::SetupExePath(), m_dir / L"messages.txt"}));
    }

    DWORD Rsc(const std::vector<std::wstring>& arguments) {
        qztest::ProcessOptions options;
        options.outputFile = m_dir / L"rsc-output.txt";
        return qztest::RunProgramArgs(qztest::BinDir() + L"qz-rsc.exe", arguments, options).exitCode;
    }

    // The viewer of an attended run whose package name matches nothing.
    std::wstring NoPackageDialog() {
        const qztest::SetupRun run = qztest::RunSetup(m_dir.path(), {L"/p", L"Nope"});
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(1u, run.exitCode);
        EXPECT_EQ(1u, run.dialogs.size());
        return run.dialogs.empty() ? std::wstring() : run.dialogs[0];
    }

    static bool GermanUser() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_GERMAN; }

    qztest::TempDir m_dir;
};

TEST_F(RscModuleRun, AGermanTranslationReachesGermanUsersOnly) {
    const std::wstring builtIn = NoPackageDialog();
    // The whole dump, with messages 124 and 130 in German: one for Germany
    // (1031), one for every German (7).
    std::string file = qztest::ReadFileBytes(m_dir / L"messages.txt");
    file += std::string("1031 124 ") + kGerman124 + "\n7 130 " + kGerman130 + "\n";
    qztest::WriteFileBytes(m_dir / L"de.txt", file);
    ASSERT_EQ(0u, Rsc({L"build", m_dir / L"de.txt", m_dir / L"qz-setup.rsc"}));

    const std::wstring shown = NoPackageDialog();
    if (GermanUser()) {
        const std::wstring expected124 = L"QZSETUP:BOOTSTRAP:ERR::Paket namens Nope f\u00fcr Prozessor ";
        EXPECT_EQ(0u, shown.find(expected124)) << qztest::ToUtf8(shown);
        EXPECT_NE(std::wstring::npos,
                  shown.find(L"\r\nQZSETUP:BOOTSTRAP:ERR::" + qztest::FromUtf8(kGerman130)))
            << qztest::ToUtf8(shown);
    } else {
        EXPECT_EQ(builtIn, shown);
    }
}

TEST_F(RscModuleRun, ADumpRebuiltUnchangedServesTheBuiltInTexts) {
    const std::wstring builtIn = NoPackageDialog();
    ASSERT_EQ(0u, Rsc({L"build", m_dir / L"messages.txt", m_dir / L"qz-setup.rsc"}));
    EXPECT_EQ(builtIn, NoPackageDialog());
}

// A module left from another version, or made by hand, whose 124 has four
// conversions where the program passes three and whose 130 has one where it
// passes none: the run shows the built-in texts, says why, and ends as
// without the module.
TEST_F(RscModuleRun, AStaleModuleCannotCrashTheRun) {
    const std::wstring builtIn = NoPackageDialog();
    ASSERT_EQ(0u, Rsc({L"build", m_dir / L"messages.txt", m_dir / L"qz-setup.rsc"}));
    ASSERT_NO_THROW(qztest::PutModuleTexts(
        m_dir / L"qz-setup.rsc", {{124, L"Paket %s f\u00fcr %s in %s: %s"}, {130, L"Nicht gefunden: %u"}}));

    const std::wstring shown = NoPackageDialog();
    std::wstring withoutReports;
    std::vector<std::wstring> reports;
    bool first = true;
    for (const std::wstring& line : qztest::SplitLines(shown)) {
        if (line.find(L"qz-setup.rsc") != std::wstring::npos) {
            reports.push_back(line);
            continue;
        }
        withoutReports += (first ? L"" : L"\r\n") + line;
        first = false;
    }
    EXPECT_EQ(builtIn, withoutReports);
    ASSERT_EQ(2u, reports.size()) << qztest::ToUtf8(shown);
    EXPECT_EQ(0u, reports[0].find(L"QZSETUP:BOOTSTRAP:INFO::Message 124 of qz-setup.rsc is passed over"))
        << qztest::ToUtf8(reports[0]);
    EXPECT_EQ(0u, reports[1].find(L"QZSETUP:BOOTSTRAP:INFO::Message 130 of qz-setup.rsc is passed over"))
        << qztest::ToUtf8(reports[1]);
}

// The longest text qz-rsc takes for a formatted message is shown whole.
TEST_F(RscModuleRun, ATextAsLongAsTheFormatterWritesIsShownWhole) {
    // The dump with message 130, in every language, as long as the formatter writes.
    std::string file;
    for (const std::wstring& line :
         qztest::SplitLines(qztest::FromUtf8(qztest::ReadFileBytes(m_dir / L"messages.txt")), L"\n"))
        if (!line.empty() && line.find(L" 130 ") != 4)
            file += qztest::ToUtf8(line) + "\n";
    for (const char* language : {"1033", "1036", "1041", "2052"})
        file += std::string(language) + " 130 " + std::string(1023, 'y') + "\n";
    qztest::WriteFileBytes(m_dir / L"long.txt", file);
    ASSERT_EQ(0u, Rsc({L"build", m_dir / L"long.txt", m_dir / L"qz-setup.rsc"}));
    const std::wstring shown = NoPackageDialog();
    EXPECT_NE(std::wstring::npos, shown.find(L"QZSETUP:BOOTSTRAP:ERR::" + std::wstring(1023, L'y') + L"\r\n"))
        << qztest::ToUtf8(shown);
}

TEST_F(RscModuleRun, ATextFileIsReportedThenTheBuiltInTextsServe) {
    const std::wstring builtIn = NoPackageDialog();
    qztest::WriteFileBytes(m_dir / L"qz-setup.rsc",
                           "1031 130 Das Installationspaket wurde nicht gefunden.\n");
    EXPECT_EQ(
        L"QZSETUP:BOOTSTRAP:INFO::Failed to load qz-setup.rsc resource file. Defaulting to inner resource "
        L"messages.\r\n" +
            builtIn,
        NoPackageDialog());
}

} // namespace
