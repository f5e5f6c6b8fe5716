// The choice of the language transform, the language dialog and the language tables.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "language/lang_catalogue.h"
#include "settings/variables.h"

// Chooses QZ_SETUP_LANG_TRANSFORM for a fresh attended installation. 1 on
// success, 0 when no transform could be determined. A cancelled dialog raises
// a WinException with ERROR_INSTALL_USEREXIT (1602).
int SetLanguageTransform(VariableMap& variables);

// The display name of a language ("Deutsch", ...), empty when not in the table.
std::wstring GetLanguageName(WORD langId);

// The three-letter codes of the user's language, then "enu".
std::vector<std::wstring> GetUserLangCodes();

// The language dialog (dialog 119).
class LangDlg {
public:
    explicit LangDlg(LangItems choices) : m_choices(std::move(choices)) {}
    // 1 (OK) or 2 (Escape); the selected language id is kept for both.
    INT_PTR Show();
    DWORD selected() const { return m_selected; }
    const LangItems& choices() const { return m_choices; }

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    DWORD m_selected = 0;
    LangItems m_choices;
};
