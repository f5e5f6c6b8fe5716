// The choice of the language transform, the language dialog and the language tables.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "language/lang_catalogue.h"
#include "msi/package.h"
#include "settings/variables.h"
#include "system/held_file.h"
#include "system/machine_queries.h"

// What the language choice decided, or would offer, for one run.
struct LanguageOffer {
    // Why the run gets the transform it gets.
    enum class Basis {
        NotInstallMode,    // the mode is not INSTALL: nothing is chosen
        ProductRegistered, // maintenance of an installed product keeps its language
        NamedBySetting,    // QZ_SETUP_LANG_TRANSFORM names it (or names none)
        NoUserTransform,   // no transform has the user's language: the package's own
        Dialog,            // the user chooses in the language dialog
    };
    Basis basis = Basis::NotInstallMode;
    bool productRegistered = false;
    WORD userLanguage = 0;    // GetUserDefaultLCID, low 16 bits
    WORD productLanguage = 0; // the package's ProductLanguage (read when the transforms are scanned)
    bool scanned = false;     // whether the transform folder was looked at
    LangItems transforms;     // the language transforms found, in listing order
    std::vector<std::wstring> notLanguageTransforms; // ".mst" files that set no language
    // The dialog's items, in order, the transform each one leads to (empty:
    // the package's own language) and the item that starts selected.
    LangItems choices;
    std::vector<std::wstring> choiceTransforms;
    std::size_t preselected = 0;
};

// Decides the language of the run without asking anyone: reads the ProductCode
// of `package` (the package of QZ_SETUP_PACKAGE_FILE) and whether that product
// is registered, and for a fresh attended installation without a transform of
// the user's own its ProductLanguage and the transform folder. Raises as the
// package reads do. The transforms are held while they are read; `held`, when
// given, receives the holders of those the user is offered (one for each of
// `transforms`, empty for the others, which are released at once).
// `facts`: the user language and whether the product is taken as not
// installed (assumed facts ask nothing of this machine's installer); null
// for this machine's.
LanguageOffer DecideLanguage(const VariableMap& variables, QZ::MSInstaller::Package& package,
                             std::vector<HeldFile>* held = nullptr, const RunFacts* facts = nullptr);

// The transform that choosing `selected` in the dialog leads to: empty for
// the package's own language. False when no transform of the offer has that
// language.
bool TransformForChoice(const LanguageOffer& offer, WORD selected, std::wstring& transform);

// Chooses QZ_SETUP_LANG_TRANSFORM for a fresh attended installation of
// `package`. 1 on success, 0 when no transform could be determined. The
// transforms offered are held from their reading until the choice; the chosen
// one is then kept held with the package. A cancelled dialog raises a
// WinException with ERROR_INSTALL_USEREXIT (1602). With `planned`, the dialog
// is not shown: the offer is written there and the item that starts selected
// is taken, as OK would take it. With `askNobody` (nobody could see the
// dialog) that item is taken as well.
// `facts` as for DecideLanguage.
int SetLanguageTransform(VariableMap& variables, QZ::MSInstaller::Package& package,
                         LanguageOffer* planned = nullptr, bool askNobody = false,
                         const RunFacts* facts = nullptr);

// The display name of a language ("Deutsch", ...), empty when not in the table.
std::wstring GetLanguageName(WORD langId);

// The three-letter codes of the user's language, then "enu".
std::vector<std::wstring> GetUserLangCodes();
// The same for the user language `language`.
std::vector<std::wstring> GetUserLangCodes(LANGID language);

// The languages that have a help file "<directory><name>_<code>" in one of
// `directories`, in the order the codes are tried (each as its primary
// language with the default sublanguage).
std::vector<LANGID> HelpFileLanguages(const std::vector<std::wstring>& directories, const std::wstring& name);

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
