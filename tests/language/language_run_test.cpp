// The language choice in real runs of qz-setup.exe: the chosen transform
// reaches the installer, and a cancelled choice ends the run as a user exit.
#include <windows.h>
#include <msi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "support/dialog_driver.h"
#include "support/module_texts.h"
#include "support/package_builder.h"
#include "support/setup_runner.h"
#include "support/test_env.h"
#include "support/transform_writer.h"

namespace {

using qztest::BuiltInText;

// A scratch directory holding qz-setup.exe, a package and its transforms, and a
// resource module that translates the dialog's texts (which must not be used).
class LanguageRun : public ::testing::Test {
protected:
    void SetUp() override {
        qztest::InstallSetupExe(m_dir.path());
        qztest::CopyFileOrThrow(qztest::BinDir() + L"test-module.rsc", m_dir / L"qz-setup.rsc");
    }

    void TearDown() override {
        if (!m_productCode.empty())
            qztest::RemoveProduct(m_productCode);
    }

    void Package(unsigned language) {
        qztest::PackageSpec desc;
        desc.productName = L"QZ Language Run";
        desc.productCode = m_productCode = qztest::NewGuid();
        desc.language = language;
        desc.installFolder = L"QZ Language Run";
        qztest::BuildPackage(desc, m_dir / L"package.msi");
    }

    qztest::TempDir m_dir;
    std::wstring m_productCode;
};

TEST_F(LanguageRun, FrenchUserInstallsWithTheChosenTransform) {
    if (GetUserDefaultLangID() != 1036)
        GTEST_SKIP() << "needs a French user (LC_ALL=fr_FR.UTF-8)";
    Package(1033);
    qztest::WriteLanguageTransform(m_dir / L"fr.mst", 1036, {{L"ProductName", L"Produit"}});

    std::wstring title;
    std::vector<std::wstring> items;
    int calls = 0;
    qztest::SetupOptions options;
    options.onLanguageDialog = [&](HWND dialog) {
        ++calls;
        title = qztest::WindowText(dialog);
        items = qztest::ComboItems(dialog, IDC_LANGUAGE_COMBO);
        qztest::ChooseComboItem(dialog, IDC_LANGUAGE_COMBO, 0);
    };
    const qztest::SetupRun run =
        qztest::RunSetup(m_dir.path(), {L"/f", L"package.msi", L"/l", L"setup.log"}, options);

    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(1, calls);
    EXPECT_EQ(BuiltInText(IDS_LANGUAGE_DIALOG_TITLE), title);
    EXPECT_EQ((std::vector<std::wstring>{L"Française", L"English"}), items);
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_TRUE(qztest::IsProductRegistered(m_productCode));
    EXPECT_EQ(L"Produit", qztest::ProductInfo(m_productCode, INSTALLPROPERTY_INSTALLEDPRODUCTNAME));
    EXPECT_EQ(L"1036", qztest::ProductInfo(m_productCode, INSTALLPROPERTY_LANGUAGE));
}

TEST_F(LanguageRun, EscapeEndsTheRunAsAUserExitWithoutInstalling) {
    // A transform for the user's language and a product in another one.
    const LANGID user = GetUserDefaultLangID();
    Package(PRIMARYLANGID(user) == LANG_GERMAN ? 1033 : 1031);
    qztest::WriteLanguageTransform(m_dir / L"user.mst", user);

    int calls = 0;
    qztest::SetupOptions options;
    options.onLanguageDialog = [&](HWND dialog) {
        // The Escape key first; should the dialog still be there, Cancel.
        if (calls++ == 0)
            PostMessageW(GetDlgItem(dialog, IDC_LANGUAGE_COMBO), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        else
            qztest::PressCancel(dialog);
    };
    const qztest::SetupRun run = qztest::RunSetup(
        m_dir.path(),
        {L"/f", L"package.msi", L"/l", L"setup.log", L"/e", L"exit.txt", L"QZ_SETUP_MODE=INSTALL"}, options);

    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(1, calls);
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_FALSE(qztest::IsProductRegistered(m_productCode));
    EXPECT_FALSE(qztest::PathExists(m_dir / L"setup.log"));

    // The exit file: the user-exit code (not a success), twice, and its system text.
    std::vector<std::string> lines;
    const std::string exitFile = qztest::ReadFileBytes(m_dir / L"exit.txt");
    for (size_t start = 0; start <= exitFile.size();) {
        size_t end = exitFile.find('\n', start);
        if (end == std::string::npos)
            end = exitFile.size();
        std::string line = exitFile.substr(start, end - start);
        while (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    ASSERT_GE(lines.size(), 3u) << exitFile;
    EXPECT_EQ("1602", lines[0]);
    EXPECT_EQ("1602", lines[1]);
    std::wstring text = qztest::SystemText(ERROR_INSTALL_USEREXIT);
    text = text.substr(0, text.find_first_of(L"\r\n"));
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(qztest::ToUtf8(text), lines[2]);

    // The attended user sees the result line with the early messages.
    ASSERT_EQ(1u, run.dialogs.size());
    EXPECT_NE(std::wstring::npos, run.dialogs[0].find(L"QZSETUP:BOOTSTRAP:ERR:1602:"))
        << qztest::ToUtf8(run.dialogs[0]);
}

} // namespace
