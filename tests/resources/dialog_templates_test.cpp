// The dialog templates of the text viewer and the language dialog, read back
// from the resources, and the dialogs created from them.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "support/test_env.h"
#include "system/win_owners.h"

namespace {

struct DialogItem {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::wstring windowClass;
    std::wstring text;
};

struct DialogTemplate {
    bool extended = false;
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring menu;
    std::wstring windowClass;
    std::wstring caption;
    WORD pointSize = 0;
    std::wstring typeface;
    std::vector<DialogItem> items;
};

// Reads a DLGTEMPLATE or DLGTEMPLATEEX with bounds checks on every field.
class TemplateReader {
public:
    TemplateReader(const BYTE* data, size_t size) : m_data(data), m_size(size) {}

    template <typename T> T Read() {
        Need(sizeof(T));
        T value;
        memcpy(&value, m_data + m_pos, sizeof(T));
        m_pos += sizeof(T);
        return value;
    }

    std::wstring ReadString() {
        std::wstring text;
        for (WCHAR c = Read<WCHAR>(); c != 0; c = Read<WCHAR>())
            text += c;
        return text;
    }

    // A name-or-ordinal field: empty, 0xFFFF followed by an ordinal, or a string.
    std::wstring ReadNameOrOrdinal() {
        const WORD first = Read<WORD>();
        if (first == 0)
            return std::wstring();
        if (first == 0xFFFF)
            return OrdinalName(Read<WORD>());
        m_pos -= sizeof(WORD);
        return ReadString();
    }

    void AlignToDword() { m_pos = (m_pos + 3) & ~size_t(3); }
    void Skip(size_t bytes) {
        Need(bytes);
        m_pos += bytes;
    }

private:
    static std::wstring OrdinalName(WORD ordinal) {
        switch (ordinal) {
        case 0x0080:
            return L"Button";
        case 0x0081:
            return L"Edit";
        case 0x0082:
            return L"Static";
        case 0x0083:
            return L"ListBox";
        case 0x0084:
            return L"ScrollBar";
        case 0x0085:
            return L"ComboBox";
        default:
            return L"#" + std::to_wstring(ordinal);
        }
    }
    void Need(size_t bytes) const {
        if (m_pos + bytes > m_size)
            throw std::runtime_error("dialog template ends early");
    }

    const BYTE* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

DialogTemplate ParseTemplate(const BYTE* data, size_t size) {
    TemplateReader in(data, size);
    DialogTemplate dialog;
    WORD count = 0;
    const WORD version = in.Read<WORD>();
    const WORD signature = in.Read<WORD>();
    dialog.extended = version == 1 && signature == 0xFFFF;
    if (dialog.extended) {
        in.Read<DWORD>(); // help id
        dialog.exStyle = in.Read<DWORD>();
        dialog.style = in.Read<DWORD>();
    } else {
        dialog.style = MAKELONG(version, signature);
        dialog.exStyle = in.Read<DWORD>();
    }
    count = in.Read<WORD>();
    dialog.x = in.Read<short>();
    dialog.y = in.Read<short>();
    dialog.cx = in.Read<short>();
    dialog.cy = in.Read<short>();
    dialog.menu = in.ReadNameOrOrdinal();
    dialog.windowClass = in.ReadNameOrOrdinal();
    dialog.caption = in.ReadString();
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = in.Read<WORD>();
        if (dialog.extended)
            in.Skip(sizeof(WORD) + 2 * sizeof(BYTE)); // weight, italic, character set
        dialog.typeface = in.ReadString();
    }
    for (WORD i = 0; i < count; ++i) {
        in.AlignToDword();
        DialogItem item;
        if (dialog.extended) {
            in.Read<DWORD>(); // help id
            item.exStyle = in.Read<DWORD>();
            item.style = in.Read<DWORD>();
        } else {
            item.style = in.Read<DWORD>();
            item.exStyle = in.Read<DWORD>();
        }
        item.x = in.Read<short>();
        item.y = in.Read<short>();
        item.cx = in.Read<short>();
        item.cy = in.Read<short>();
        item.id = dialog.extended ? static_cast<int>(in.Read<DWORD>()) : in.Read<short>();
        item.windowClass = in.ReadNameOrOrdinal();
        item.text = in.ReadNameOrOrdinal();
        in.Skip(in.Read<WORD>()); // creation data
        dialog.items.push_back(item);
    }
    return dialog;
}

DialogTemplate LoadTemplate(WORD id) {
    const HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(id), RT_DIALOG);
    if (!found)
        throw std::runtime_error("dialog resource " + std::to_string(id) + " not found");
    const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(self, found)));
    return ParseTemplate(data, SizeofResource(self, found));
}

std::string Narrow(const std::wstring& text) {
    return qztest::ToUtf8(text);
}

// Window classes are matched without regard to case (the resource compiler
// stores a class given by name in upper case).
bool SameClass(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

void ExpectItems(const std::vector<DialogItem>& actual, const std::vector<DialogItem>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("control " + std::to_string(expected[i].id));
        const DialogItem& a = actual[i];
        const DialogItem& e = expected[i];
        EXPECT_EQ(a.id, e.id);
        EXPECT_TRUE(SameClass(a.windowClass, e.windowClass)) << Narrow(a.windowClass);
        EXPECT_EQ(Narrow(a.text), Narrow(e.text));
        EXPECT_EQ(a.style, e.style) << std::hex << a.style << " expected " << e.style;
        EXPECT_EQ(a.exStyle, e.exStyle);
        EXPECT_EQ(a.x, e.x);
        EXPECT_EQ(a.y, e.y);
        EXPECT_EQ(a.cx, e.cx);
        EXPECT_EQ(a.cy, e.cy);
    }
}

INT_PTR CALLBACK PassiveDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

std::wstring ClassOf(HWND window) {
    WCHAR name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

} // namespace

TEST(DialogTemplates, TextViewerLayout) {
    const DialogTemplate dialog = LoadTemplate(IDD_TEXT_VIEWER);
    EXPECT_EQ(dialog.style, DWORD(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT))
        << std::hex << dialog.style;
    EXPECT_EQ(dialog.exStyle, 0u);
    EXPECT_EQ(dialog.x, 0);
    EXPECT_EQ(dialog.y, 0);
    EXPECT_EQ(dialog.cx, 237);
    EXPECT_EQ(dialog.cy, 202);
    EXPECT_TRUE(dialog.menu.empty());
    EXPECT_TRUE(dialog.windowClass.empty());
    EXPECT_EQ(Narrow(dialog.caption), "Dialog");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(Narrow(dialog.typeface), "MS Shell Dlg");
    ExpectItems(
        dialog.items,
        {
            {kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 97, 181, 50, 14, IDOK, L"Button", L"OK"},
            {kChild | WS_BORDER | WS_VSCROLL | WS_TABSTOP | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE, 0, 7,
             7, 223, 167, IDC_VIEWER_TEXT, L"RichEdit20A", L""},
        });
}

TEST(DialogTemplates, LanguageDialogLayout) {
    const DialogTemplate dialog = LoadTemplate(IDD_LANGUAGE);
    // No system menu: the dialog has no close box.
    EXPECT_EQ(dialog.style,
              DWORD(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_SETFONT | DS_FIXEDSYS))
        << std::hex << dialog.style;
    EXPECT_EQ(dialog.exStyle, 0u);
    EXPECT_EQ(dialog.cx, 186);
    EXPECT_EQ(dialog.cy, 66);
    EXPECT_TRUE(dialog.menu.empty());
    EXPECT_TRUE(dialog.windowClass.empty());
    EXPECT_EQ(Narrow(dialog.caption), "Dialog");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(Narrow(dialog.typeface), "MS Shell Dlg");
    ExpectItems(dialog.items,
                {
                    {kChild | WS_GROUP | SS_LEFT, 0, 14, 9, 156, 15, -1, L"Static", L"Static"},
                    {kChild | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST | CBS_SORT, 0, 14, 25, 158, 96,
                     IDC_LANGUAGE_COMBO, L"ComboBox", L""},
                    {kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 67, 45, 50, 14, IDOK, L"Button", L"OK"},
                });
}

// The templates are usable: the system builds both dialogs from them, with the
// rich edit control once its library is loaded.
TEST(DialogTemplates, DialogsAreCreatedFromTheTemplates) {
    const UniqueModule richEdit(LoadLibraryW(L"Riched20.dll"));
    ASSERT_NE(richEdit.get(), nullptr);
    const HMODULE self = GetModuleHandleW(nullptr);

    const UniqueWindow viewer(
        CreateDialogParamW(self, MAKEINTRESOURCEW(IDD_TEXT_VIEWER), nullptr, PassiveDialogProc, 0));
    ASSERT_NE(viewer.get(), nullptr) << "error " << GetLastError();
    const HWND text = GetDlgItem(viewer.get(), IDC_VIEWER_TEXT);
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(SameClass(ClassOf(text), L"RichEdit20A")) << Narrow(ClassOf(text));
    EXPECT_EQ(GetWindowLongW(text, GWL_STYLE) & (ES_READONLY | ES_MULTILINE), ES_READONLY | ES_MULTILINE);
    EXPECT_NE(GetDlgItem(viewer.get(), IDOK), nullptr);
    EXPECT_NE(GetWindowLongW(viewer.get(), GWL_STYLE) & WS_SYSMENU, 0);

    const UniqueWindow language(
        CreateDialogParamW(self, MAKEINTRESOURCEW(IDD_LANGUAGE), nullptr, PassiveDialogProc, 0));
    ASSERT_NE(language.get(), nullptr) << "error " << GetLastError();
    const HWND combo = GetDlgItem(language.get(), IDC_LANGUAGE_COMBO);
    ASSERT_NE(combo, nullptr);
    EXPECT_TRUE(SameClass(ClassOf(combo), L"ComboBox")) << Narrow(ClassOf(combo));
    EXPECT_NE(GetDlgItem(language.get(), IDOK), nullptr);
    EXPECT_EQ(GetWindowLongW(language.get(), GWL_STYLE) & WS_SYSMENU, 0);
}
