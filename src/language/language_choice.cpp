#include "language/language_choice.h"

#include <windows.h>
#include <msi.h>

#include <exception>
#include <utility>

#include "system/errors.h"
#include "diag/messages.h"
#include "msi/product_registration.h"
#include "resources/resource_ids.h"

namespace {

// Three-letter language codes by primary language, in the order the help
// file candidates are tried.
const std::pair<WORD, const wchar_t*> g_langCodes[10] = {
    {LANG_FRENCH, L"fra"},     {LANG_SPANISH, L"esp"}, {LANG_JAPANESE, L"jpn"}, {LANG_GERMAN, L"ger"},
    {LANG_PORTUGUESE, L"ptb"}, {LANG_ITALIAN, L"ita"}, {LANG_CZECH, L"ces"},    {LANG_KOREAN, L"kor"},
    {LANG_CHINESE, L"chs"},    {LANG_ENGLISH, L"enu"},
};

// Display names of the languages the dialog can name.
const std::pair<WORD, const wchar_t*> g_langNames[] = {
    {LANG_CHINESE, L"中国"},    {LANG_CZECH, L"Český"},     {LANG_GERMAN, L"Deutsch"},
    {LANG_ENGLISH, L"English"}, {LANG_SPANISH, L"Español"}, {LANG_FRENCH, L"Française"},
    {LANG_JAPANESE, L"日本"},
};

// The dialog being shown; one language dialog at a time.
LangDlg* g_langDlg = nullptr;
// An exception caught inside the dialog procedure, raised again once the
// dialog has ended: nothing may unwind through the window manager.
std::exception_ptr g_langDlgFailure;

// Whether the product is registered with the installer on this machine.
void FillDialog(HWND dialog, const LangDlg& state) {
    SetWindowTextW(dialog, LoadBuiltInMessage(IDS_LANGUAGE_DIALOG_TITLE).c_str());
    SetDlgItemTextW(dialog, -1, LoadBuiltInMessage(IDS_LANGUAGE_DIALOG_LABEL).c_str());

    const HWND combo = GetDlgItem(dialog, IDC_LANGUAGE_COMBO);
    for (const auto& choice : state.choices()) {
        const LRESULT index = SendMessageW(combo, CB_INSERTSTRING, static_cast<WPARAM>(-1),
                                           reinterpret_cast<LPARAM>(choice.text.c_str()));
        if (index >= 0)
            SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(index), choice.langId);
    }
    // The first item starts selected, by position: a search by its text would
    // find nothing for a language without a display name, and OK would then
    // end the dialog without a language.
    if (!state.choices().empty())
        SendMessageW(combo, CB_SETCURSEL, 0, 0);
}

} // namespace

INT_PTR LangDlg::Show() {
    g_langDlgFailure = nullptr;
    const INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_LANGUAGE), nullptr,
                                           DialogProc, reinterpret_cast<LPARAM>(this));
    const DWORD error = GetLastError();
    g_langDlg = nullptr;
    if (g_langDlgFailure)
        std::rethrow_exception(std::exchange(g_langDlgFailure, nullptr));
    if (result == -1)
        // A failure must never be reported with the number of success.
        ThrowWinException(error != ERROR_SUCCESS ? error : static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE),
                          L" Fnc : LangDlg::Show; Line : 23; ");
    return result;
}

INT_PTR CALLBACK LangDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        g_langDlg = reinterpret_cast<LangDlg*>(lParam);
        try {
            FillDialog(dialog, *g_langDlg);
        } catch (...) {
            g_langDlgFailure = std::current_exception();
            EndDialog(dialog, IDCANCEL);
        }
        return TRUE;
    case WM_COMMAND: {
        const WORD command = LOWORD(wParam);
        if ((command != IDOK && command != IDCANCEL) || !g_langDlg)
            return FALSE;
        const LRESULT index = SendDlgItemMessageW(dialog, IDC_LANGUAGE_COMBO, CB_GETCURSEL, 0, 0);
        g_langDlg->m_selected = static_cast<DWORD>(
            SendDlgItemMessageW(dialog, IDC_LANGUAGE_COMBO, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
        EndDialog(dialog, command);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

std::wstring GetLanguageName(WORD langId) {
    const WORD primary = PrimaryLanguage(langId);
    for (const auto& name : g_langNames)
        if (name.first == primary)
            return name.second;
    return std::wstring();
}

std::vector<std::wstring> GetUserLangCodes() {
    return GetUserLangCodes(GetUserDefaultLangID());
}

std::vector<LANGID> HelpFileLanguages(const std::vector<std::wstring>& directories,
                                      const std::wstring& name) {
    std::vector<LANGID> languages;
    for (const auto& code : g_langCodes) {
        for (const std::wstring& directory : directories) {
            const DWORD attributes = GetFileAttributesW((directory + name + L"_" + code.second).c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                languages.push_back(MAKELANGID(code.first, SUBLANG_DEFAULT));
                break;
            }
        }
    }
    return languages;
}

std::vector<std::wstring> GetUserLangCodes(LANGID language) {
    const WORD primary = PrimaryLanguage(language);
    std::vector<std::wstring> codes;
    for (const auto& code : g_langCodes)
        if (code.first == primary)
            codes.push_back(code.second);
    codes.push_back(L"enu");
    return codes;
}

LanguageOffer DecideLanguage(const VariableMap& variables, QZ::MSInstaller::Package& package,
                             std::vector<HeldFile>* held, const RunFacts* facts) {
    LanguageOffer offer;
    const std::wstring mode = VariableValue(variables, QZ_SETUP_MODE);
    const std::wstring transformDir = VariableValue(variables, QZ_SETUP_LANG_TRANSFORM_DIR);

    // Another machine's product is taken as not installed there (its code
    // is read all the same, as this machine's run reads it).
    const std::wstring& productCode = package.ProductCode();
    offer.productRegistered =
        !(facts && facts->assumed) &&
        QZ::MSInstaller::IsProductRegistered(productCode, L" Fnc : SetLanguageTransform; Line : 449; ");
    offer.userLanguage = facts ? facts->userLanguage : LOWORD(GetUserDefaultLCID());

    // Only a fresh attended installation without a transform of the user's own gets one chosen.
    if (mode != g_setupModeNames[INSTALL]) {
        offer.basis = LanguageOffer::Basis::NotInstallMode;
        return offer;
    }
    if (offer.productRegistered) {
        offer.basis = LanguageOffer::Basis::ProductRegistered;
        return offer;
    }
    if (variables.count(QZ_SETUP_LANG_TRANSFORM)) {
        offer.basis = LanguageOffer::Basis::NamedBySetting;
        return offer;
    }

    offer.productLanguage = ParseLanguageValue(package.ProductLanguage());

    offer.scanned = true;
    const WORD userPrimary = PrimaryLanguage(offer.userLanguage);
    std::vector<HeldFile> holders;
    for (auto& item :
         LoadLangTransforms(transformDir, &offer.notLanguageTransforms, &holders, &package.Path()))
        offer.transforms.push_back(std::move(item));
    // Those of the user's language are offered and stay held until the
    // choice; the others go at once.
    for (std::size_t i = 0; i < offer.transforms.size(); ++i)
        if (PrimaryLanguage(offer.transforms[i].langId) != userPrimary)
            holders[i] = HeldFile();
    if (held)
        *held = std::move(holders);

    for (const auto& item : offer.transforms)
        if (PrimaryLanguage(item.langId) == userPrimary)
            offer.choices.push_back(LangItem{GetLanguageName(item.langId), item.langId});
    offer.choices.push_back(LangItem{GetLanguageName(offer.productLanguage), offer.productLanguage});
    if (offer.choices.size() <= 1) {
        offer.choices.clear();
        offer.basis = LanguageOffer::Basis::NoUserTransform;
        return offer;
    }
    offer.basis = LanguageOffer::Basis::Dialog;
    for (const auto& choice : offer.choices) {
        std::wstring transform;
        TransformForChoice(offer, choice.langId, transform);
        offer.choiceTransforms.push_back(transform);
    }
    return offer;
}

bool TransformForChoice(const LanguageOffer& offer, WORD selected, std::wstring& transform) {
    const WORD selectedPrimary = PrimaryLanguage(selected);
    transform.clear();
    if (selectedPrimary == PrimaryLanguage(offer.productLanguage))
        return true;
    const WORD userPrimary = PrimaryLanguage(offer.userLanguage);
    for (const auto& item : offer.transforms) {
        // Only the transforms of the user's language are offered.
        if (PrimaryLanguage(item.langId) == userPrimary && PrimaryLanguage(item.langId) == selectedPrimary) {
            transform = item.text;
            return true;
        }
    }
    return false;
}

int SetLanguageTransform(VariableMap& variables, QZ::MSInstaller::Package& package, LanguageOffer* planned,
                         bool askNobody, const RunFacts* facts) {
    std::vector<HeldFile> held;
    LanguageOffer offer = DecideLanguage(variables, package, &held, facts);
    if (offer.basis != LanguageOffer::Basis::Dialog) {
        if (planned)
            *planned = std::move(offer);
        return 1;
    }

    WORD selected = 0;
    if (planned || askNobody) {
        // A plan asks nobody, nor does a run whose dialogs nobody can see:
        // the item that starts selected is what OK takes.
        selected = offer.choices[offer.preselected].langId;
    } else {
        LangDlg dialog(offer.choices);
        if (dialog.Show() != IDOK)
            // The user walked away from the installation: the run ends as a user
            // exit, without installing anything.
            throw WinException(ERROR_INSTALL_USEREXIT);
        selected = static_cast<WORD>(dialog.selected());
    }

    std::wstring transform;
    const bool found = TransformForChoice(offer, selected, transform);
    // The chosen transform stays held with the package.
    for (std::size_t i = 0; i < offer.transforms.size(); ++i) {
        if (!transform.empty() && offer.transforms[i].text == transform && held[i].held()) {
            package.KeepTransform(std::move(held[i]));
            break;
        }
    }
    if (planned)
        *planned = std::move(offer);
    if (!found)
        return 0;
    if (!transform.empty())
        variables[QZ_SETUP_LANG_TRANSFORM] = transform;
    return 1;
}
