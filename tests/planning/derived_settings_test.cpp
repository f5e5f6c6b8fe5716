// The completed plan: what is derived when not given, and what is normalised.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "diag/bootstrap_log.h"
#include "language/language_choice.h"
#include "planning/derived_settings.h"
#include "planning/package_location.h"
#include "support/package_builder.h"
#include "system/path_helpers.h"
#include "support/test_env.h"

namespace {

// Gives this process the environment values of a case and the old ones back afterwards.
class ScopedEnvironment {
public:
    // A null value removes the variable.
    explicit ScopedEnvironment(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> values) {
        for (const auto& entry : values) {
            wchar_t buffer[4096];
            const DWORD length = GetEnvironmentVariableW(entry.first, buffer, 4096);
            m_saved.emplace_back(entry.first, length ? std::wstring(buffer, length) : std::wstring());
            m_wasSet.push_back(length != 0);
            SetEnvironmentVariableW(entry.first, entry.second);
        }
    }
    ~ScopedEnvironment() {
        for (size_t i = 0; i < m_saved.size(); ++i)
            SetEnvironmentVariableW(m_saved[i].first.c_str(),
                                    m_wasSet[i] ? m_saved[i].second.c_str() : nullptr);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::vector<std::pair<std::wstring, std::wstring>> m_saved;
    std::vector<bool> m_wasSet;
};

// Makes a directory current for its lifetime.
class ScopedCurrentDirectory {
public:
    explicit ScopedCurrentDirectory(const std::wstring& dir) {
        GetCurrentDirectoryW(MAX_PATH, m_saved);
        SetCurrentDirectoryW(dir.c_str());
    }
    ~ScopedCurrentDirectory() { SetCurrentDirectoryW(m_saved); }
    ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
    ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

private:
    wchar_t m_saved[MAX_PATH];
};

struct Derived {
    bool complete = false;
    VariableMap variables;
    std::wstring log;
};

Derived Derive(VariableMap variables) {
    Derived result;
    std::wstringbuf log;
    {
        LogStreamCapture capture(log);
        QZ::MSInstaller::Package package;
        result.complete = DeriveSettings(variables, package);
    }
    result.variables = std::move(variables);
    result.log = log.str();
    return result;
}

std::wstring ValueOr(const VariableMap& variables, const wchar_t* name, const wchar_t* absent = L"<absent>") {
    const auto found = variables.find(name);
    return found == variables.end() ? absent : found->second;
}

// A scratch folder with one package (not installed, so the language choice
// looks at transforms, of which the folder has none) and a temporary folder.
class DerivedSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        qztest::PackageSpec desc;
        desc.productName = L"QZ Derived";
        qztest::BuildPackage(desc, m_dir / L"package.msi");
        ASSERT_TRUE(CreateDirectoryW((m_dir / L"tmp").c_str(), nullptr));
    }

    // The settings of a package given by its file, with the transforms looked for here.
    VariableMap ByFile(VariableMap extra = {}) const {
        extra.emplace(L"QZ_SETUP_PACKAGE_FILE", m_dir / L"package.msi");
        extra.emplace(L"QZ_SETUP_LANG_TRANSFORM_DIR", m_dir.path());
        return extra;
    }

    qztest::TempDir m_dir;
};

TEST_F(DerivedSettingsTest, CompletesThePlanAndKeepsWhatWasGiven) {
    const ScopedEnvironment environment({{L"TEMP", (m_dir / L"tmp").c_str()}});
    const ScopedCurrentDirectory current(m_dir.path());
    const std::wstring defaultLog = m_dir / L"tmp\\QZ Derived_install.log";
    const struct Case {
        const char* what;
        VariableMap given;
        std::map<std::wstring, std::wstring> expected;
    } cases[] = {
        {"nothing but the package",
         {},
         {{L"QZ_SETUP_MODE", L"INSTALL"},
          {L"QZ_SETUP_LOG_FILE", defaultLog},
          {L"QZ_SUPPRESS_REBOOT", L"1"},
          {L"QZ_SETUP_PACKAGE_NAME", L"QZ Derived"},
          {L"QZ_SETUP_PACKAGE_DIR", GetModuleDir()},
          {L"QZ_SETUP_RESPONSE_FILE", L"<absent>"},
          {L"QZ_SETUP_LANG_TRANSFORM", L"<absent>"}}},
        {"an exit file makes the run unattended",
         {{L"QZ_SETUP_EXIT_FILE", L"exit.txt"}},
         {{L"QZ_SETUP_MODE", L"UNATTENDED"}, {L"QZ_SETUP_EXIT_FILE", L"exit.txt"}}},
        {"so does an empty exit file", {{L"QZ_SETUP_EXIT_FILE", L""}}, {{L"QZ_SETUP_MODE", L"UNATTENDED"}}},
        {"a response file too, made absolute",
         {{L"QZ_SETUP_RESPONSE_FILE", L" \"answers.rsp\""}},
         {{L"QZ_SETUP_MODE", L"UNATTENDED"}, {L"QZ_SETUP_RESPONSE_FILE", m_dir / L"answers.rsp"}}},
        {"a given mode is kept",
         {{L"QZ_SETUP_MODE", L"UNINSTALL"}, {L"QZ_SETUP_EXIT_FILE", L"exit.txt"}},
         {{L"QZ_SETUP_MODE", L"UNINSTALL"}}},
        {"a given mode is trimmed",
         {{L"QZ_SETUP_MODE", L" UNATTENDED_UNINSTALL\t"}},
         {{L"QZ_SETUP_MODE", L"UNATTENDED_UNINSTALL"}}},
        {"a given log file is trimmed and stays relative",
         {{L"QZ_SETUP_LOG_FILE", L"  \"logs\\run.log\" "}},
         {{L"QZ_SETUP_LOG_FILE", L"logs\\run.log"}}},
        {"a given reboot flag stays, whatever it says",
         {{L"QZ_SUPPRESS_REBOOT", L"0"}},
         {{L"QZ_SUPPRESS_REBOOT", L"0"}}},
        {"even an empty one", {{L"QZ_SUPPRESS_REBOOT", L""}}, {{L"QZ_SUPPRESS_REBOOT", L""}}},
        {"the package file's product name replaces a given name",
         {{L"QZ_SETUP_PACKAGE_NAME", L"Other"}},
         {{L"QZ_SETUP_PACKAGE_NAME", L"QZ Derived"}, {L"QZ_SETUP_LOG_FILE", defaultLog}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Derived derived = Derive(ByFile(c.given));
        EXPECT_TRUE(derived.complete);
        EXPECT_EQ(L"", derived.log);
        for (const auto& expected : c.expected)
            EXPECT_EQ(expected.second, ValueOr(derived.variables, expected.first.c_str()))
                << qztest::ToUtf8(expected.first);
    }
}

TEST_F(DerivedSettingsTest, DefaultLogDirectoryFromTheEnvironment) {
    const std::wstring dir = m_dir.path();
    const std::wstring longTemp = dir + std::wstring(300, L'x');
    const std::wstring failure = L"QZSETUP:BOOTSTRAP:ERR:203:" + qztest::SystemText(ERROR_ENVVAR_NOT_FOUND) +
                                 L"\r\nQZSETUP:BOOTSTRAP:ERR::QZ_SETUP_LOG_FILE not set and bootstrapper "
                                 L"failed to retrieve environment variables to deduce the default logging "
                                 L"path. Logging is off !\r\n";
    const struct Case {
        const char* what;
        const wchar_t* temp;
        const wchar_t* systemRoot;
        const wchar_t* systemDrive;
        std::wstring log; // empty: derivation fails
    } cases[] = {
        {"TEMP first", L"T:\\temp", L"R:\\windows", L"D:", L"T:\\temp\\QZ Derived_install.log"},
        {"SystemRoot's Temp without TEMP", nullptr, L"R:\\windows", L"D:",
         L"R:\\windows\\Temp\\QZ Derived_install.log"},
        {"an empty TEMP counts as none", L"", L"R:\\windows", nullptr,
         L"R:\\windows\\Temp\\QZ Derived_install.log"},
        {"SystemDrive's Temp last", nullptr, nullptr, L"D:", L"D:\\Temp\\QZ Derived_install.log"},
        {"a long TEMP is not cut", longTemp.c_str(), nullptr, nullptr,
         longTemp + L"\\QZ Derived_install.log"},
        {"none of the three", nullptr, nullptr, nullptr, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Derived derived;
        {
            const ScopedEnvironment environment(
                {{L"TEMP", c.temp}, {L"SystemRoot", c.systemRoot}, {L"SystemDrive", c.systemDrive}});
            derived = Derive(ByFile());
        }
        EXPECT_EQ(!c.log.empty(), derived.complete);
        if (c.log.empty()) {
            EXPECT_EQ(failure, derived.log);
            // Derivation stops there: no log file, no mode.
            EXPECT_EQ(0u, derived.variables.count(L"QZ_SETUP_LOG_FILE"));
            EXPECT_EQ(0u, derived.variables.count(L"QZ_SETUP_MODE"));
        } else {
            EXPECT_EQ(L"", derived.log);
            EXPECT_EQ(c.log, ValueOr(derived.variables, L"QZ_SETUP_LOG_FILE"));
        }
    }
}

TEST(DefaultLogName, WhatAFileNameCannotHoldBecomesAnUnderscore) {
    const struct {
        const wchar_t* name;
        const wchar_t* part;
    } cases[] = {
        {L"QZ Agent 2.0", L"QZ Agent 2.0"},
        {L"AC/DC: Agent..", L"AC_DC_ Agent__"},
        {L"..\\..\\Windows\\win", L".._.._Windows_win"},
        {L"C:\\Windows\\system.ini", L"C__Windows_system.ini"},
        {L"log:stream", L"log_stream"},
        {L"<a|b>?*\"", L"_a_b____"},
        {L"tab\there\x1f", L"tab_here_"},
        {L"trailing . . ", L"trailing_____"},
        {L"..", L"__"},
        {L"\u00c9t\u00e9 \u65e5\u672c", L"\u00c9t\u00e9 \u65e5\u672c"},
        {L"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qztest::ToUtf8(c.name));
        EXPECT_EQ(c.part, LogFileNamePart(c.name));
    }
    std::wstring log;
    const ScopedEnvironment environment({{L"TEMP", L"T:\\temp"}});
    ASSERT_TRUE(DeriveDefaultLogFile(L"AC/DC: Agent..", log));
    EXPECT_EQ(L"T:\\temp\\AC_DC_ Agent___install.log", log);
}

TEST_F(DerivedSettingsTest,
       DirectoriesResolveAgainstTheCurrentDirectoryAndTransformsDefaultToTheProgramsOwn) {
    // The run makes the executable's directory current; here the scratch
    // folder stands in for it.
    const std::wstring packages = m_dir / L"pkgs\\";
    ASSERT_TRUE(CreateDirectoryW(packages.c_str(), nullptr));
    qztest::PackageSpec desc;
    desc.productName = L"QZ Derived By Name";
    desc.platform = GetNativeProcessor() == PROCESSOR_ARCHITECTURE_AMD64 ? L"x64" : L"Intel";
    qztest::BuildPackage(desc, packages + L"found.msi");

    const ScopedEnvironment environment({{L"TEMP", (m_dir / L"tmp").c_str()}});
    const ScopedCurrentDirectory current(m_dir.path());
    const Derived derived = Derive({{L"QZ_SETUP_PACKAGE_DIR", L"\"pkgs\""},
                                    {L"QZ_SETUP_PACKAGE_NAME", L" Derived By "},
                                    {L"QZ_SETUP_EXIT_FILE", L"exit.txt"}});
    ASSERT_TRUE(derived.complete) << qztest::ToUtf8(derived.log);
    EXPECT_EQ(packages, ValueOr(derived.variables, L"QZ_SETUP_PACKAGE_DIR"));
    EXPECT_EQ(packages + L"found.msi", ValueOr(derived.variables, L"QZ_SETUP_PACKAGE_FILE"));
    // The log is named after the trimmed name that was searched for.
    EXPECT_EQ(m_dir / L"tmp\\Derived By_install.log", ValueOr(derived.variables, L"QZ_SETUP_LOG_FILE"));
    // Not the package directory: the program's own.
    EXPECT_EQ(GetModuleDir(), ValueOr(derived.variables, L"QZ_SETUP_LANG_TRANSFORM_DIR"));

    const Derived given = Derive(ByFile({{L"QZ_SETUP_LANG_TRANSFORM_DIR", L"\"pkgs\""}}));
    EXPECT_EQ(packages, ValueOr(given.variables, L"QZ_SETUP_LANG_TRANSFORM_DIR"));
}

TEST_F(DerivedSettingsTest, NoPackageFoundEndsWithTwoLines) {
    const Derived derived = Derive({{L"QZ_SETUP_PACKAGE_DIR", m_dir.path()},
                                    {L"QZ_SETUP_PACKAGE_NAME", L"No Such Product"},
                                    {L"QZ_SETUP_HELP", L"1"}});
    EXPECT_FALSE(derived.complete);
    EXPECT_EQ(L"QZSETUP:BOOTSTRAP:ERR::Package named No Such Product for processor " +
                  std::wstring(ProcessorDisplayName(GetNativeProcessor())) + L" not found in " +
                  m_dir.path() +
                  L" directory.\r\nQZSETUP:BOOTSTRAP:ERR::Failed to find the installation package.\r\n",
              derived.log);
    EXPECT_EQ(0u, derived.variables.count(L"QZ_SETUP_LOG_FILE"));
}

// Help files named "<package name>_<language code>", looked for in the
// package directory and then in the program's own.
class HelpFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        qztest::PackageSpec desc;
        m_name = L"QZ Help " + qztest::NewGuid().substr(1, 8);
        desc.productName = m_name;
        qztest::BuildPackage(desc, m_dir / L"package.msi");
    }
    void TearDown() override {
        for (const auto& file : m_created)
            DeleteFileW(file.c_str());
    }

    VariableMap Help(VariableMap extra = {}) const {
        extra.emplace(L"QZ_SETUP_PACKAGE_FILE", m_dir / L"package.msi");
        extra.emplace(L"QZ_SETUP_PACKAGE_DIR", m_dir.path());
        extra.emplace(L"QZ_SETUP_HELP", L"1");
        return extra;
    }

    // Candidates in the order they are tried.
    std::vector<std::wstring> Candidates() const {
        std::vector<std::wstring> candidates;
        for (const auto& code : GetUserLangCodes())
            for (const std::wstring& dir : {m_dir.path(), GetModuleDir()})
                candidates.push_back(dir + m_name + L"_" + code);
        return candidates;
    }

    void Create(const std::wstring& path) {
        qztest::WriteFileBytes(path, "help");
        m_created.insert(path);
    }

    qztest::TempDir m_dir;
    std::wstring m_name;
    std::set<std::wstring> m_created; // some lie beside this program
};

TEST_F(HelpFileTest, HelpDerivesOnlyTheHelpFile) {
    const Derived derived = Derive(Help());
    EXPECT_TRUE(derived.complete);
    EXPECT_EQ(L"", derived.log);
    for (const wchar_t* name : {L"QZ_SETUP_HELP_FILE", L"QZ_SETUP_LOG_FILE", L"QZ_SETUP_MODE",
                                L"QZ_SUPPRESS_REBOOT", L"QZ_SETUP_LANG_TRANSFORM_DIR"})
        EXPECT_EQ(0u, derived.variables.count(name)) << qztest::ToUtf8(name);
    EXPECT_EQ(m_name, ValueOr(derived.variables, L"QZ_SETUP_PACKAGE_NAME"));

    const ScopedCurrentDirectory current(m_dir.path());
    const Derived given = Derive(Help({{L"QZ_SETUP_HELP_FILE", L"\"notes.txt\""}}));
    EXPECT_EQ(m_dir / L"notes.txt", ValueOr(given.variables, L"QZ_SETUP_HELP_FILE"));
}

TEST_F(HelpFileTest, CandidatesGoByLanguageThenByDirectory) {
    // Created from the last candidate to the first: each new one is chosen
    // (an English user has "enu" twice, so the first of a pair stays chosen).
    const std::vector<std::wstring> candidates = Candidates();
    ASSERT_EQ(GetUserLangCodes().size() * 2, candidates.size());
    for (auto candidate = candidates.rbegin(); candidate != candidates.rend(); ++candidate) {
        Create(*candidate);
        const auto expected = std::find_if(candidates.begin(), candidates.end(),
                                           [&](const std::wstring& c) { return m_created.count(c) != 0; });
        const Derived derived = Derive(Help());
        EXPECT_EQ(*expected, ValueOr(derived.variables, L"QZ_SETUP_HELP_FILE"));
    }
}

TEST_F(HelpFileTest, FrenchUserGetsTheFrenchHelpBeforeTheEnglish) {
    if (PRIMARYLANGID(GetUserDefaultLangID()) != LANG_FRENCH)
        GTEST_SKIP() << "needs a French user (LC_ALL=fr_FR.UTF-8)";
    EXPECT_EQ((std::vector<std::wstring>{L"fra", L"enu"}), GetUserLangCodes());
    Create(m_dir / (m_name + L"_enu"));
    Create(GetModuleDir() + m_name + L"_fra");
    const Derived derived = Derive(Help());
    EXPECT_EQ(GetModuleDir() + m_name + L"_fra", ValueOr(derived.variables, L"QZ_SETUP_HELP_FILE"));
}

} // namespace
