// The choice of the language transform, with the language dialog shown as a
// real window and driven from a helper thread.
#include <windows.h>
#include <msi.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "language/language_choice.h"
#include "resources/resource_ids.h"
#include "support/dialog_driver.h"
#include "support/module_texts.h"
#include "support/package_builder.h"
#include "support/test_env.h"
#include "support/transform_writer.h"

namespace {

using qztest::BuiltInText;

class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE handle) : m_handle(handle) {}
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() {
        if (m_handle)
            CloseHandle(m_handle);
    }
    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle;
};

// What the language dialog showed, if it was shown.
struct SeenDialog {
    bool shown = false;
    std::wstring title;
    std::wstring label;
    std::vector<std::wstring> items;
    int selection = -1;
    bool escapeIgnored = false; // the Escape key did not end the dialog
};

// Watches this process for the language dialog until stopped; when it comes,
// records it and then picks an item and presses OK, or presses Escape.
class DialogWatch {
public:
    static constexpr int kEscape = -1;
    static constexpr int kOkAsShown = -2; // OK without touching the selection

    explicit DialogWatch(int choose)
        : m_choose(choose), m_stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_thread(CreateThread(nullptr, 0, Main, this, 0, nullptr)) {}
    DialogWatch(const DialogWatch&) = delete;
    DialogWatch& operator=(const DialogWatch&) = delete;
    ~DialogWatch() { Stop(); }

    const SeenDialog& Stop() {
        if (m_thread.get() && !m_stopped) {
            SetEvent(m_stop.get());
            WaitForSingleObject(m_thread.get(), 30000);
            m_stopped = true;
        }
        return m_seen;
    }

private:
    static DWORD WINAPI Main(LPVOID self) {
        auto* watch = static_cast<DialogWatch*>(self);
        for (;;) {
            if (HWND dialog = qztest::WaitForDialog(IDC_LANGUAGE_COMBO, GetCurrentProcessId(), 50)) {
                watch->Handle(dialog);
                return 0;
            }
            if (WaitForSingleObject(watch->m_stop.get(), 0) == WAIT_OBJECT_0)
                return 0;
        }
    }

    void Handle(HWND dialog) {
        m_seen.shown = true;
        m_seen.title = qztest::WindowText(dialog);
        m_seen.label = qztest::WindowText(FindWindowExW(dialog, nullptr, L"Static", nullptr));
        m_seen.items = qztest::ComboItems(dialog, IDC_LANGUAGE_COMBO);
        m_seen.selection = qztest::ComboSelection(dialog, IDC_LANGUAGE_COMBO);
        if (m_choose == kOkAsShown) {
            qztest::PressOk(dialog);
            return;
        }
        if (m_choose != kEscape) {
            qztest::ChooseComboItem(dialog, IDC_LANGUAGE_COMBO, m_choose);
            return;
        }
        // The key itself, as a user presses it in the combo box.
        PostMessageW(GetDlgItem(dialog, IDC_LANGUAGE_COMBO), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        // Up to 20 s: a loaded machine may take its time to close it.
        for (int i = 0; i < 1000 && IsWindow(dialog); ++i)
            Sleep(20);
        if (IsWindow(dialog)) {
            m_seen.escapeIgnored = true;
            qztest::PressCancel(dialog);
        }
    }

    int m_choose;
    SeenDialog m_seen;
    bool m_stopped = false;
    OwnedHandle m_stop;
    OwnedHandle m_thread;
};

TEST(LanguageName, NamesTheLanguagesOfTheTableByPrimaryLanguage) {
    struct Case {
        WORD langId;
        const wchar_t* name;
    };
    const Case cases[] = {
        {2052, L"中国"},      {1028, L"中国"},      {1029, L"Český"},
        {1031, L"Deutsch"},   {3079, L"Deutsch"},   {1033, L"English"},
        {2057, L"English"},   {1034, L"Español"},   {3082, L"Español"},
        {1036, L"Française"}, {3084, L"Française"}, {1041, L"日本"},
        {1040, L""},          {1049, L""},          {0, L""},
        {0xFFFF, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.langId);
        EXPECT_EQ(c.name, GetLanguageName(c.langId));
    }
}

// The dialog on its own, in a real window.
TEST(LanguageDialog, ShowsTheChoicesInOrderAndReportsThePickedLanguage) {
    // Not in alphabetical order, and one name twice: the item's language counts, not its name.
    const LangItems named = {{L"English", 1033}, {L"Deutsch", 1031}, {L"English", 2057}};
    // A language without a display name comes first.
    const LangItems unnamedFirst = {{L"", 1040}, {L"English", 1033}};
    struct Case {
        const char* what;
        const LangItems& choices;
        int choose;
        INT_PTR result;
        DWORD selected;
    };
    const Case cases[] = {
        {"OK as shown", named, DialogWatch::kOkAsShown, IDOK, 1033},
        {"OK on the second", named, 1, IDOK, 1031},
        {"OK on the third", named, 2, IDOK, 2057},
        {"Escape keeps the selection too", named, DialogWatch::kEscape, IDCANCEL, 1033},
        {"OK as shown on a language without a name", unnamedFirst, DialogWatch::kOkAsShown, IDOK, 1040},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LangDlg dialog(c.choices);
        DialogWatch watch(c.choose);
        const INT_PTR result = dialog.Show();
        const SeenDialog& seen = watch.Stop();
        ASSERT_TRUE(seen.shown);
        EXPECT_FALSE(seen.escapeIgnored);
        EXPECT_EQ(c.result, result);
        EXPECT_EQ(c.selected, dialog.selected());

        EXPECT_EQ(BuiltInText(IDS_LANGUAGE_DIALOG_TITLE), seen.title);
        EXPECT_EQ(BuiltInText(IDS_LANGUAGE_DIALOG_LABEL), seen.label);
        EXPECT_FALSE(seen.title.empty());
        std::vector<std::wstring> names;
        for (const auto& choice : c.choices)
            names.push_back(choice.text);
        EXPECT_EQ(names, seen.items);
        EXPECT_EQ(0, seen.selection);
    }
}

// A package and language transforms in a scratch directory; products that a
// test installs are removed again.
class LanguageChoiceTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const auto& code : m_productCodes)
            qztest::RemoveProduct(code);
    }

    std::wstring Package(unsigned language, const std::wstring& productCode = qztest::NewGuid()) {
        qztest::PackageSpec desc;
        desc.productName = L"QZ Language Test";
        desc.productCode = productCode;
        desc.language = language;
        desc.installFolder = L"QZ Language Test " + std::to_wstring(m_productCodes.size());
        const std::wstring path = m_dir / (L"package" + std::to_wstring(m_productCodes.size()) + L".msi");
        qztest::BuildPackage(desc, path);
        m_productCodes.push_back(productCode);
        return path;
    }

    std::wstring TransformDir() const { return m_dir / L"transforms\\"; }

    void Transform(const std::wstring& name, unsigned language) {
        CreateDirectoryW(TransformDir().c_str(), nullptr);
        qztest::WriteLanguageTransform(TransformDir() + name, language);
    }

    VariableMap Settings(const std::wstring& package, const std::wstring& mode = L"INSTALL") const {
        return {{QZ_SETUP_PACKAGE_FILE, package},
                {QZ_SETUP_MODE, mode},
                {QZ_SETUP_LANG_TRANSFORM_DIR, TransformDir()}};
    }

    // Runs the choice with a watch that picks `choose` if the dialog comes.
    int Choose(VariableMap& variables, int choose, SeenDialog& seen) {
        LogStreamCapture capture(m_log);
        DialogWatch watch(choose);
        int result = -1;
        try {
            QZ::MSInstaller::Package package =
                QZ::MSInstaller::Package::Open(variables[QZ_SETUP_PACKAGE_FILE]);
            result = SetLanguageTransform(variables, package);
        } catch (...) {
            seen = watch.Stop();
            throw;
        }
        seen = watch.Stop();
        return result;
    }

    std::vector<std::wstring> LogLines() const {
        std::vector<std::wstring> lines = qztest::SplitLines(m_log.str());
        if (!lines.empty() && lines.back().empty())
            lines.pop_back();
        return lines;
    }

    // A product language whose primary language is not the user's.
    static unsigned OtherLanguage() {
        return PRIMARYLANGID(GetUserDefaultLangID()) == LANG_GERMAN ? 1033 : 1031;
    }

    qztest::TempDir m_dir;
    std::vector<std::wstring> m_productCodes;
    std::wstringbuf m_log;
};

TEST_F(LanguageChoiceTest, OnlyAFreshAttendedInstallationWithoutAGivenTransformAsks) {
    // A transform for the user's language and a product in another one: a
    // fresh attended installation asks (the last row), every other run does not.
    const std::wstring package = Package(OtherLanguage());
    Transform(L"user.mst", GetUserDefaultLangID());
    struct Case {
        const char* what;
        const wchar_t* mode;
        const wchar_t* givenTransform; // null: not given
        bool asks;
    };
    const Case cases[] = {
        {"unattended", L"UNATTENDED", nullptr, false},
        {"uninstall", L"UNINSTALL", nullptr, false},
        {"unattended uninstall", L"UNATTENDED_UNINSTALL", nullptr, false},
        {"a mode in lower case", L"install", nullptr, false},
        {"a transform given", L"INSTALL", L"given.mst", false},
        {"a transform given empty", L"INSTALL", L"", false},
        {"a fresh attended installation", L"INSTALL", nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        VariableMap variables = Settings(package, c.mode);
        if (c.givenTransform)
            variables[QZ_SETUP_LANG_TRANSFORM] = c.givenTransform;
        VariableMap expected = variables;
        if (c.asks)
            expected[QZ_SETUP_LANG_TRANSFORM] = TransformDir() + L"user.mst";

        SeenDialog seen;
        m_log.str(std::wstring());
        EXPECT_EQ(1, Choose(variables, 0, seen));
        EXPECT_EQ(c.asks, seen.shown);
        EXPECT_EQ(expected, variables);
        // No scan of the transform directory either, unless asking.
        EXPECT_EQ(c.asks ? 1u : 0u, LogLines().size());
    }
}

TEST_F(LanguageChoiceTest, ARegisteredProductKeepsItsLanguage) {
    const std::wstring package = Package(OtherLanguage());
    Transform(L"user.mst", GetUserDefaultLangID());
    const UINT previousUi = MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    const UINT installed = MsiInstallProductW(package.c_str(), L"REBOOT=ReallySuppress");
    MsiSetInternalUI(static_cast<INSTALLUILEVEL>(previousUi), nullptr);
    ASSERT_EQ(ERROR_SUCCESS, installed);
    ASSERT_TRUE(qztest::IsProductRegistered(m_productCodes.back()));

    VariableMap variables = Settings(package);
    const VariableMap before = variables;
    SeenDialog seen;
    EXPECT_EQ(1, Choose(variables, 0, seen));
    EXPECT_FALSE(seen.shown);
    EXPECT_EQ(before, variables);
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(LanguageChoiceTest, EscapeIsAUserExit) {
    const std::wstring package = Package(OtherLanguage());
    Transform(L"user.mst", GetUserDefaultLangID());
    VariableMap variables = Settings(package);
    const VariableMap before = variables;
    SeenDialog seen;
    try {
        Choose(variables, DialogWatch::kEscape, seen);
        ADD_FAILURE() << "no exception";
    } catch (const MSIException&) {
        ADD_FAILURE() << "an installer exception";
    } catch (const WinException& e) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_USEREXIT), e.GetError());
    }
    EXPECT_TRUE(seen.shown);
    EXPECT_FALSE(seen.escapeIgnored);
    EXPECT_EQ(before, variables);
    // Only the catalogue line: a user's choice is not logged as an error.
    for (const auto& line : LogLines())
        EXPECT_EQ(0u, line.find(L"QZSETUP:BOOTSTRAP:INFO:")) << qztest::ToUtf8(line);
}

TEST_F(LanguageChoiceTest, AProductCodeTheInstallerRefusesRaises) {
    const std::wstring package = Package(OtherLanguage(), L"{NOT-A-PRODUCT-CODE}");
    Transform(L"user.mst", GetUserDefaultLangID());
    VariableMap variables = Settings(package);
    SeenDialog seen;
    try {
        Choose(variables, 0, seen);
        ADD_FAILURE() << "no exception";
    } catch (const WinException& e) {
        EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), e.GetError());
        EXPECT_NE(static_cast<DWORD>(ERROR_UNKNOWN_PRODUCT), e.GetError());
    }
    EXPECT_FALSE(seen.shown);
    const std::wstring log = m_log.str();
    EXPECT_NE(std::wstring::npos, log.find(L" Fnc : SetLanguageTransform; Line : 449; "))
        << qztest::ToUtf8(log);
}

// The rows below depend on the user's language, which Wine takes from LC_ALL
// when a process starts; the test program is run once per locale and each run
// takes the rows of its own language.
constexpr const wchar_t* kFirstListedChinese = L"<first Chinese transform listed>";

struct UserCase {
    const char* what;
    LANGID user;
    std::vector<std::pair<std::wstring, unsigned>> transforms; // file name, language
    unsigned productLanguage;
    std::vector<std::wstring> items; // empty: no dialog
    // For each item, picked in turn: the transform chosen (a file name), or empty for none.
    std::vector<std::wstring> chosen;
};

const std::vector<UserCase>& UserCases() {
    static const std::vector<UserCase> cases = {
        {"German user",
         1031,
         {{L"de.mst", 1031}, {L"fr.mst", 1036}},
         1033,
         {L"Deutsch", L"English"},
         {L"de.mst", L""}},
        {"English user, British transform",
         1033,
         {{L"en-gb.mst", 2057}},
         1033,
         {L"English", L"English"},
         {L"", L""}},
        {"Chinese user",
         2052,
         {{L"zh-cn.mst", 2052}, {L"zh-tw.mst", 1028}, {L"de.mst", 1031}},
         1033,
         {L"中国", L"中国", L"English"},
         {kFirstListedChinese, kFirstListedChinese, L""}},
        {"Taiwanese user", 1028, {{L"zh-tw.mst", 1028}}, 1033, {L"中国", L"English"}, {L"zh-tw.mst", L""}},
        {"Italian user", 1040, {{L"it.mst", 1040}}, 1033, {L"", L"English"}, {L"it.mst", L""}},
        {"French user, German product",
         1036,
         {{L"fr.mst", 1036}},
         1031,
         {L"Française", L"Deutsch"},
         {L"fr.mst", L""}},
        {"Japanese user, no Japanese transform", 1041, {{L"de.mst", 1031}, {L"fr.mst", 1036}}, 1033, {}, {}},
        {"Russian user, no Russian transform", 1049, {{L"de.mst", 1031}}, 1033, {}, {}},
    };
    return cases;
}

std::wstring FirstListedChinese(const std::wstring& dir) {
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((dir + L"zh-*.mst").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return std::wstring();
    FindClose(find);
    return data.cFileName;
}

TEST_F(LanguageChoiceTest, UserLanguageDecidesTheChoices) {
    const LANGID user = GetUserDefaultLangID();
    bool ran = false;
    for (const auto& c : UserCases()) {
        if (c.user != user)
            continue;
        ran = true;
        SCOPED_TRACE(c.what);
        for (const auto& transform : c.transforms)
            Transform(transform.first, transform.second);
        const std::wstring package = Package(c.productLanguage);

        const size_t picks = c.items.empty() ? 1 : c.items.size();
        for (size_t pick = 0; pick < picks; ++pick) {
            SCOPED_TRACE("item " + std::to_string(pick));
            VariableMap variables = Settings(package);
            VariableMap expected = variables;
            if (!c.items.empty() && !c.chosen[pick].empty()) {
                const std::wstring name = c.chosen[pick] == kFirstListedChinese
                                              ? FirstListedChinese(TransformDir())
                                              : c.chosen[pick];
                expected[QZ_SETUP_LANG_TRANSFORM] = TransformDir() + name;
            }
            SeenDialog seen;
            // The first item is taken as shown, the others are picked.
            EXPECT_EQ(1,
                      Choose(variables, pick == 0 ? DialogWatch::kOkAsShown : static_cast<int>(pick), seen));
            EXPECT_EQ(!c.items.empty(), seen.shown);
            if (seen.shown) {
                EXPECT_EQ(c.items, seen.items);
                EXPECT_EQ(0, seen.selection);
            }
            EXPECT_EQ(expected, variables);
        }
    }
    if (!ran)
        GTEST_SKIP() << "no case for user language " << user << "; run under another LC_ALL";
}

TEST(UserLangCodes, FollowTheUsersLanguageThenEnglish) {
    struct Case {
        LANGID user;
        std::vector<std::wstring> codes;
    };
    const Case cases[] = {
        {1031, {L"ger", L"enu"}}, {1033, {L"enu", L"enu"}}, {2057, {L"enu", L"enu"}},
        {1049, {L"enu"}},         {1036, {L"fra", L"enu"}}, {1041, {L"jpn", L"enu"}},
        {2052, {L"chs", L"enu"}}, {1028, {L"chs", L"enu"}}, {1040, {L"ita", L"enu"}},
    };
    const LANGID user = GetUserDefaultLangID();
    for (const auto& c : cases) {
        if (c.user != user)
            continue;
        EXPECT_EQ(c.codes, GetUserLangCodes());
        return;
    }
    GTEST_SKIP() << "no case for user language " << user << "; run under another LC_ALL";
}

} // namespace
