// Text that fits: both dialogs, in each of the four languages, at 96, 144
// and 192 pixels per inch. A Wine process takes its scale from the prefix's
// LogPixels when it starts, so each scale runs in a child of this program
// started while LogPixels says so; the setting is given back however the
// child ends.
#include <windows.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "language/language_choice.h"
#include "resources/resource_ids.h"
#include "support/platform_deviations.h"
#include "support/process_runner.h"
#include "support/test_env.h"
#include "system/win_owners.h"

namespace {

constexpr LANGID kLanguages[] = {
    MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH),
    MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)};

// Message `id` of the built-in table in `language`, read from the table itself.
std::wstring TableText(WORD id, LANGID language) {
    const HMODULE self = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceExW(self, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    const auto* data = found ? static_cast<const WCHAR*>(LockResource(LoadResource(self, found))) : nullptr;
    if (!data)
        return std::wstring();
    for (unsigned n = 0; n < id % 16; ++n)
        data += 1 + *data;
    return std::wstring(data + 1, *data);
}

// Width of `text` in the font of `control`, as the control draws it. A text
// that measures nothing is a failed measurement, never a fit.
int TextWidth(HWND control, const std::wstring& text) {
    const HDC dc = GetDC(control);
    const HGDIOBJ previous =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    EXPECT_GT(size.cx, 0) << "measuring " << qztest::ToUtf8(text);
    return size.cx > 0 ? size.cx : INT_MAX;
}

RECT RectIn(HWND dialog, HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

INT_PTR CALLBACK PlainDialog(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

// A dialog of this program's templates, shown without its procedure's texts.
UniqueWindow OpenDialog(WORD id) {
    return UniqueWindow(
        CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), nullptr, PlainDialog, 0));
}

HWND LanguageLabel(HWND dialog) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[16] = {};
        GetClassNameW(child, className, 16);
        if (_wcsicmp(className, L"Static") == 0)
            return child;
    }
    return nullptr;
}

// The child: the scale is the one this process started with.
TEST(DialogFitAtThisScale, TextsFitTheirControlsInEveryLanguage) {
    const char* asked = std::getenv("QZ_FIT_DPI");
    if (!asked)
        GTEST_SKIP() << "started by DialogFit with QZ_FIT_DPI";
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    ASSERT_EQ(std::atoi(asked), dpi) << "the prefix's LogPixels did not take";

    // Every name the language dialog can offer.
    std::vector<std::wstring> names;
    for (WORD primary = 1; primary < 0x400; ++primary) {
        const std::wstring name = GetLanguageName(primary);
        if (!name.empty())
            names.push_back(name);
    }
    ASSERT_EQ(7u, names.size());

    const UniqueModule richEdit(LoadLibraryW(L"riched20.dll"));
    for (const LANGID language : kLanguages) {
        SCOPED_TRACE("language " + std::to_string(language) + " at " + std::to_string(dpi) + " dpi");
        {
            const UniqueWindow dialog = OpenDialog(IDD_LANGUAGE);
            ASSERT_NE(nullptr, dialog.get());
            const HWND label = LanguageLabel(dialog.get());
            ASSERT_NE(nullptr, label);
            const std::wstring text = TableText(IDS_LANGUAGE_DIALOG_LABEL, language);
            ASSERT_FALSE(text.empty());
            RECT labelRect{};
            GetClientRect(label, &labelRect);
            EXPECT_LE(TextWidth(label, text), labelRect.right) << "label: " << qztest::ToUtf8(text);

            const HWND combo = GetDlgItem(dialog.get(), IDC_LANGUAGE_COMBO);
            COMBOBOXINFO info{};
            info.cbSize = sizeof info;
            ASSERT_TRUE(GetComboBoxInfo(combo, &info));
            for (const std::wstring& name : names)
                EXPECT_LE(TextWidth(combo, name), info.rcItem.right - info.rcItem.left)
                    << "language name: " << qztest::ToUtf8(name);

            // The combo box and the button lie inside the dialog, one below the other.
            RECT client{};
            GetClientRect(dialog.get(), &client);
            const RECT comboRect = RectIn(dialog.get(), combo);
            const RECT okRect = RectIn(dialog.get(), GetDlgItem(dialog.get(), IDOK));
            EXPECT_LE(comboRect.bottom, okRect.top);
            EXPECT_LE(okRect.bottom, client.bottom);
            EXPECT_LE(comboRect.right, client.right);
        }
        {
            const UniqueWindow dialog = OpenDialog(IDD_TEXT_VIEWER);
            ASSERT_NE(nullptr, dialog.get());
            RECT client{};
            GetClientRect(dialog.get(), &client);
            const RECT textRect = RectIn(dialog.get(), GetDlgItem(dialog.get(), IDC_VIEWER_TEXT));
            const RECT okRect = RectIn(dialog.get(), GetDlgItem(dialog.get(), IDOK));
            EXPECT_LE(textRect.bottom, okRect.top) << "the OK button lies below the text area";
            EXPECT_LE(okRect.bottom, client.bottom);
            EXPECT_LE(textRect.right, client.right);
            const HWND ok = GetDlgItem(dialog.get(), IDOK);
            RECT okClient{};
            GetClientRect(ok, &okClient);
            EXPECT_LT(TextWidth(ok, L"OK"), okClient.right);
        }
    }
}

// LogPixels of the prefix's user, given back when the owner goes.
class ScaleSetting {
public:
    ScaleSetting() {
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &m_key, nullptr);
        DWORD size = sizeof m_saved;
        m_had = RegQueryValueExW(m_key, L"LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&m_saved),
                                 &size) == ERROR_SUCCESS;
    }
    ~ScaleSetting() {
        if (m_had)
            RegSetValueExW(m_key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&m_saved),
                           sizeof m_saved);
        else
            RegDeleteValueW(m_key, L"LogPixels");
        RegCloseKey(m_key);
    }
    ScaleSetting(const ScaleSetting&) = delete;
    ScaleSetting& operator=(const ScaleSetting&) = delete;
    bool Set(DWORD dpi) {
        return m_key && RegSetValueExW(m_key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                                       sizeof dpi) == ERROR_SUCCESS;
    }

private:
    HKEY m_key = nullptr;
    DWORD m_saved = 0;
    bool m_had = false;
};

TEST(DialogFit, EveryLanguageFitsAt96And144And192Dpi) {
    if (std::getenv("QZ_FIT_DPI"))
        GTEST_SKIP() << "the child runs only its own scale";
    // Windows takes a new LogPixels only at the next sign-in.
    QZ_SKIP_UNLESS_LINUX_HOST(qztest::LinuxHostNeed::WineLoaderOrPrefix);
    wchar_t self[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    qztest::TempDir dir;
    for (const DWORD dpi : {96u, 144u, 192u}) {
        SCOPED_TRACE(std::to_string(dpi) + " dpi");
        qztest::ProcessOptions options;
        options.setEnv[L"QZ_FIT_DPI"] = std::to_wstring(dpi);
        options.outputFile = dir / L"child.txt";
        qztest::ProcessResult result;
        {
            ScaleSetting scale;
            ASSERT_TRUE(scale.Set(dpi));
            result = qztest::RunProgramArgs(self, {L"--gtest_filter=DialogFitAtThisScale.*"}, options);
        }
        const std::string output = qztest::ReadFileBytes(dir / L"child.txt");
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(0u, result.exitCode) << output;
        EXPECT_NE(std::string::npos, output.find("[  PASSED  ] 1 test")) << output;
    }
}

} // namespace
