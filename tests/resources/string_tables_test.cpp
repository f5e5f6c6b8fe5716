// The message tables: which ids exist in which language, the English texts,
// the translations' placeholders and layout, and the resource module used by
// the tests.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwctype>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "diag/message_rules.h"
#include "resources/resource_ids.h"
#include "settings/command_line.h"
#include "support/test_env.h"
#include "system/win_owners.h"

namespace {

constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr LANGID kFrench = MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH);
constexpr LANGID kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
constexpr LANGID kChinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

// The English catalogue, character for character.
const std::map<UINT, std::wstring> kEnglishTexts = {
    {109, L"Unexpected exception caught."},
    {110, L"Bootstrapper logging completed."},
    {111, L"Bootstrapper logging initiated."},
    {112, L"Failed to open log file."},
    {113, L"Usage: qz-setup.exe /p package-name [/x]\n"
          L"    [/f package-file] [/d package-dir] [/r response-file] [/e exit-file]\n"
          L"    [/l log-file] [/t] [/v] [/h] [/H help-file] [VAR=\"VALUE\" ...]\n"
          L"\n"
          L"The parameters can be specified on the command line with their options\n"
          L"(/p, or -p) or as variable=value. The variable name is specified below in\n"
          L"parenthesis. Options are case-sensitive; any other word is ignored.\n"
          L"\n"
          L"/p package_name (QZ_SETUP_PACKAGE_NAME) - Name of the package to install.\n"
          L"    The available packages are scanned for the first package whose product\n"
          L"    name contains this name and whose processor fits this machine.\n"
          L"\n"
          L"/f package_file (QZ_SETUP_PACKAGE_FILE) - Package file to install, instead\n"
          L"    of a package found by name. Its processor is not checked.\n"
          L"\n"
          L"/x (QZ_SETUP_MODE=UNINSTALL) - Uninstall the package.\n"
          L"    The package file to uninstall must be available as on installation.\n"
          L"    QZ_SETUP_MODE=UNATTENDED and QZ_SETUP_MODE=UNATTENDED_UNINSTALL install\n"
          L"    and uninstall without dialogs; the mode is written in upper case.\n"
          L"\n"
          L"/d package_dir (QZ_SETUP_PACKAGE_DIR) - Location to search for the package\n"
          L"    files. Default: the folder of qz-setup.exe.\n"
          L"\n"
          L"/r response-file (QZ_SETUP_RESPONSE_FILE) - Response file with product\n"
          L"    specific installation parameters.\n"
          L"    Turns the installation to unattended mode.\n"
          L"\n"
          L"/e exit-file (QZ_SETUP_EXIT_FILE) - File to record the installation\n"
          L"    result in.\n"
          L"    Turns the installation to unattended mode.\n"
          L"\n"
          L"/l log-file (QZ_SETUP_LOG_FILE) - File to log installation messages in.\n"
          L"\n"
          L"/v (QZ_SETUP_VERBOSE) - Turns verbose mode of the installer on. Changes\n"
          L"    what gets logged into the log file.\n"
          L"\n"
          L"/t (QZ_SETUP_TRACE) - Turns additional tracing of the installer progress\n"
          L"    on.\n"
          L"\n"
          L"QZ_SUPPRESS_REBOOT=0 - Lets the installer restart the machine when the\n"
          L"    installation needs it. By default a restart is suppressed.\n"
          L"\n"
          L"/h, /?, /help (QZ_SETUP_HELP) - Displays this help instead of installing.\n"
          L"\n"
          L"/H help-file (QZ_SETUP_HELP_FILE) - Help file to display (this file)\n"
          L"    for /h. "},
    {114, L"QZ Setup"},
    {115, L"Invalid command-line string. \n"
          L"Erroneous string: %s.\n"
          L"Error description:%s."},
    {116, L"Failed to load %s resource file. Defaulting to inner resource messages."},
    {117, L"An error occured while loading %s control file. Erroneous string: %s."},
    {118, L"Response file %s does not exist!"},
    {119, L"An error occured while loading %s response file. Erroneous string: %s."},
    {120, L"MS redistributables file %s not found. It is required!."},
    {121, L"MS redistributables file %s not found. Skipping installation of MSVS2005SP1 redistributables."},
    {122, L"Unexpected error message format. Delimiter no. %i encountered when delimiter no. %i is already "
          L"in effect."},
    {123, L"Missing argument."},
    {124, L"Package named %s for processor %s not found in %s directory."},
    {125, L"Package file %s does not exist!"},
    {126, L"Help file %s does not exist. Cannot display package help!"},
    {127, L"Parameter %s contains unexpected value %s."},
    {128, L"Package name and package file name are missing. Either is required."},
    {129, L"Error occured at %s.\nError description: %s."},
    {130, L"Failed to find the installation package."},
    {131, L"Windows Installer is busy with another installation. Waiting up to %u seconds."},
    {132, L"QZ_SETUP_LOG_FILE not set and bootstrapper failed to retrieve environment variables to deduce "
          L"the default logging path. Logging is off !"},
    {135, L"\n"
          L"*******************************************************************************\n"
          L"Commencing installation of %s package.\n"
          L"Product name: %s.\n"
          L"Product version: %s.\n"
          L"*******************************************************************************"},
    {136, L"Failed to determine the language transform file."},
    {137, L"File \"%s\" is not language transform."},
    {139, L"Language Selection"},
    {140, L"Select installation language:"},
    {141, L"Found \"%s\" language transfrom with %u id."},
    {143, L"Failed to apply %s language transform file. \n"
          L"Error number: %u. \n"
          L"Error message: %s."},
    {145, L"Windows Installer is still busy with another installation after the %u seconds that "
          L"QZ_SETUP_BUSY_WAIT allows. The installer is not started for %s."},
    {146, L"Message %u of %s is passed over because its placeholders differ from the built-in text's; the "
          L"built-in text is used. Build %s again with the qz-rsc of this version."},
    {147, L"File %s could not be held unchanged for the installation: another program may have it open for "
          L"writing.\n"
          L"Error description: %s."},
    {148, L"Log file %s is held by another program and cannot be replaced. This run logs to %s."},
    {149, L"Exit file %s could not be written.\n"
          L"Error description: %s."},
    {150, L"Redistributable %s returned %s; the main package is installed all the same.\n"
          L"Error description: %s."},
    {151, L"A restart of the system is pending: %s."},
    {152, L"Failed to write the plan to %s.\nError description: %s"},
    {153, L"Plan written to %s. Nothing was installed, removed or changed."},
    {158,
     L"Nobody can see the window station of this process (a service, the SYSTEM account or another session)"
     L": no dialog is shown, the language dialog takes its preselected language and the installer runs "
     L"without its user interface."},
    {159,
     L"Arguments ignored on the command line: %s. They are no options of qz-setup (options are case-sensiti"
     L"ve; a value with blanks must be in double quotes)."},
    {160, L"Setting \"%s\" in line %u of %s has blanks around its name, so it sets no setting of that name."},
    {168, L"Patch %s is for another product and is passed over."},
    {169, L"Patch %s (%s) is already applied to the installed product and is passed over."},
    {170, L"File %s cannot be read as a patch: it is damaged or no patch. Nothing was installed."},
    {171, L"Patch %s named in QZ_SETUP_PATCHES does not apply to package %s (installer result %u). Nothing "
          L"was installed."},
    {172, L"Patch %s named in QZ_SETUP_PATCHES does not exist. Nothing was installed."},
    {173, L"PATCH cannot be given when QZ_SETUP_PATCHES names the patches: give the patches in "
          L"QZ_SETUP_PATCHES alone."},
    {174, L"Patch %s (%s) is applied with the installation, as number %u."},
    {162, L"Transform %s cannot be used with package %s, so nothing is installed.\n"
          L"Error description: %s"},
    {163,
     L"Package %s matches the name but is made for the %s platform. This machine can run it: name it with /f "
     L"to install it."},
    {164, L"Package %s matches the name but is made for the %s platform, which this machine cannot run."},
    {165, L"Product %s version %s (%s) of package %s is installed on this machine."},
    {166,
     L"Product %s version %s (%s) of package %s is not installed on this machine: there is nothing of it to "
     L"remove."},
    {167,
     L"Product %s version %s (%s) of package %s is not installed on this machine, but %s version %s (%s), of "
     L"the same upgrade code, is. This package does not remove it."},
    {155, L"Log file %s could not be made.\nError description: %s"},
    {156,
     L"Log file %s is no longer the file this run made: the redistributable's installer runs without a log."},
    {157, L"Package %s has no %s property that could be read.\nError description: %s"},
    {176,
     L"QZ_SETUP_PLAN_AS contains %s, which names no machine to plan for. Give x86, AMD64, ARM64 or "
     L"Itanium, optionally followed by a colon and a decimal language id (ARM64:1036), or * for the folder "
     L"check."},
    {177, L"QZ_SETUP_PLAN_AS=%s is for plans only (QZ_SETUP_PLAN): this run ignores it."},
    {178, L"The folder check was written to %s: no errors, %u warnings, %u notes."},
    {179, L"The folder check was written to %s: %u errors, %u warnings, %u notes. Mend the errors before "
          L"shipping the folder."},
    {180, L"Failed to write the winget manifests to %s.\nError description: %s"},
    {181, L"The winget manifests hold a placeholder for %s: %s is not given, cannot be read or does not fit "
          L"winget's manifest schema."},
};

// What the enumeration callbacks collect; they never throw across the system.
template <typename T> struct Collected {
    std::vector<T> items;
    bool failed = false;
};

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
    auto* out = reinterpret_cast<Collected<WORD>*>(param);
    try {
        if (!IS_INTRESOURCE(name))
            throw std::runtime_error("named string block");
        out->items.push_back(static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name)));
        return TRUE;
    } catch (...) {
        out->failed = true;
        return FALSE;
    }
}

BOOL CALLBACK CollectType(HMODULE, LPWSTR type, LONG_PTR param) {
    auto* out = reinterpret_cast<Collected<std::wstring>*>(param);
    try {
        out->items.push_back(IS_INTRESOURCE(type) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(type))
                                                  : std::wstring(type));
        return TRUE;
    } catch (...) {
        out->failed = true;
        return FALSE;
    }
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
    auto* out = reinterpret_cast<Collected<LANGID>*>(param);
    try {
        out->items.push_back(language);
        return TRUE;
    } catch (...) {
        out->failed = true;
        return FALSE;
    }
}

std::vector<WORD> StringBlocks(HMODULE module) {
    Collected<WORD> blocks;
    EnumResourceNamesW(module, RT_STRING, CollectName, reinterpret_cast<LONG_PTR>(&blocks));
    EXPECT_FALSE(blocks.failed);
    return blocks.items;
}

std::set<LANGID> BlockLanguages(HMODULE module, WORD block) {
    Collected<LANGID> languages;
    EnumResourceLanguagesW(module, RT_STRING, MAKEINTRESOURCEW(block), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_FALSE(languages.failed);
    return std::set<LANGID>(languages.items.begin(), languages.items.end());
}

// Every non-empty string of one language, read straight from the string-table
// blocks so that no loader fallback to another language can hide a gap.
std::map<UINT, std::wstring> StringsOf(HMODULE module, LANGID language) {
    std::map<UINT, std::wstring> strings;
    for (WORD block : StringBlocks(module)) {
        if (!BlockLanguages(module, block).count(language))
            continue;
        HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(block), language);
        if (!found) {
            ADD_FAILURE() << "block " << block << " not found for language " << language;
            continue;
        }
        const auto* data = static_cast<const WCHAR*>(LockResource(LoadResource(module, found)));
        const DWORD size = SizeofResource(module, found) / sizeof(WCHAR);
        DWORD pos = 0;
        for (UINT index = 0; index < 16; ++index) {
            if (pos >= size) {
                ADD_FAILURE() << "block " << block << " is truncated";
                break;
            }
            const DWORD length = data[pos++];
            if (pos + length > size) {
                ADD_FAILURE() << "string " << index << " of block " << block << " overruns it";
                break;
            }
            if (length)
                strings[(block - 1u) * 16u + index] = std::wstring(data + pos, length);
            pos += length;
        }
    }
    return strings;
}

std::set<LANGID> LanguagesOf(HMODULE module) {
    std::set<LANGID> languages;
    for (WORD block : StringBlocks(module)) {
        const std::set<LANGID> found = BlockLanguages(module, block);
        languages.insert(found.begin(), found.end());
    }
    return languages;
}

// The conversions of a text, as the rule for resource modules reads them.
std::string Placeholders(const std::wstring& format) {
    std::string joined;
    for (const std::wstring& conversion : MessageConversions(format))
        joined += qztest::ToUtf8(conversion) + " ";
    return joined;
}

size_t LineFeeds(const std::wstring& text) {
    size_t count = 0;
    for (wchar_t c : text)
        count += c == L'\n';
    return count;
}

std::set<UINT> Ids(const std::map<UINT, std::wstring>& strings) {
    std::set<UINT> ids;
    for (const auto& entry : strings)
        ids.insert(entry.first);
    return ids;
}

std::string Narrow(const std::wstring& text) {
    return qztest::ToUtf8(text);
}

} // namespace

TEST(StringTables, EveryLanguageHoldsExactlyTheCatalogue) {
    const HMODULE self = GetModuleHandleW(nullptr);
    EXPECT_EQ(LanguagesOf(self), (std::set<LANGID>{kEnglish, kFrench, kJapanese, kChinese}));
    const std::set<UINT> catalogue = Ids(kEnglishTexts);
    for (LANGID language : {kEnglish, kFrench, kJapanese, kChinese}) {
        SCOPED_TRACE("language " + std::to_string(language));
        EXPECT_EQ(Ids(StringsOf(self, language)), catalogue);
    }
}

TEST(StringTables, EnglishTextsAreExact) {
    const std::map<UINT, std::wstring> english = StringsOf(GetModuleHandleW(nullptr), kEnglish);
    for (const auto& expected : kEnglishTexts) {
        SCOPED_TRACE("message " + std::to_string(expected.first));
        const auto found = english.find(expected.first);
        ASSERT_NE(found, english.end());
        EXPECT_EQ(Narrow(found->second), Narrow(expected.second));
    }
    // The usage text is far beyond the 1,024 characters of a formatted message.
    EXPECT_GT(english.at(IDS_USAGE).size(), 1700u);
}

TEST(StringTables, TranslationsKeepPlaceholdersAndLayout) {
    const HMODULE self = GetModuleHandleW(nullptr);
    const std::map<UINT, std::wstring> english = StringsOf(self, kEnglish);
    const std::wstring& usage = kEnglishTexts.at(IDS_USAGE);
    const std::wstring usageOptions = usage.substr(usage.find(L"/p package_name"));
    for (LANGID language : {kFrench, kJapanese, kChinese}) {
        const std::map<UINT, std::wstring> translated = StringsOf(self, language);
        for (const auto& source : english) {
            SCOPED_TRACE("language " + std::to_string(language) + ", message " +
                         std::to_string(source.first));
            const auto found = translated.find(source.first);
            ASSERT_NE(found, translated.end());
            const std::wstring& text = found->second;
            // wvsprintfW takes its arguments in order: the same conversions in
            // the same order, or the arguments land in the wrong place.
            EXPECT_EQ(Placeholders(text), Placeholders(source.second));
            // A backslash or a carriage return would be a mistyped escape.
            EXPECT_EQ(text.find_first_of(L"\\\r"), std::wstring::npos) << Narrow(text);
            if (source.first == IDS_VIEWER_TITLE)
                continue; // the product name is the same everywhere
            EXPECT_NE(text, source.second) << "not translated";
            if (source.first == IDS_USAGE) {
                // Only the opening lines are translated; the option list stays English.
                ASSERT_GE(text.size(), usageOptions.size());
                EXPECT_EQ(Narrow(text.substr(text.size() - usageOptions.size())), Narrow(usageOptions));
            } else {
                // Log lines and the banner keep their line structure.
                EXPECT_EQ(LineFeeds(text), LineFeeds(source.second)) << Narrow(text);
            }
        }
    }
}

// The words of `text` that are written like options: "/" or "-" at the start
// of a word, then letters or "?".
std::set<std::wstring> OptionWords(const std::wstring& text) {
    std::set<std::wstring> words;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool wordStart = i == 0 || std::wcschr(L" \n[(,", text[i - 1]) != nullptr;
        if (!wordStart || (text[i] != L'/' && text[i] != L'-'))
            continue;
        std::size_t end = i + 1;
        while (end < text.size() && text[end] < 0x80 && (std::iswalpha(text[end]) || text[end] == L'?'))
            ++end;
        if (end > i + 1)
            words.insert(text.substr(i, end - i));
    }
    return words;
}

// The setting names of `text`: QZ_ and capitals, digits and underscores.
std::set<std::wstring> SettingNames(const std::wstring& text) {
    std::set<std::wstring> names;
    for (std::size_t at = text.find(L"QZ_"); at != std::wstring::npos; at = text.find(L"QZ_", at + 1)) {
        std::size_t end = at;
        while (end < text.size() &&
               (std::iswupper(text[end]) || std::iswdigit(text[end]) || text[end] == L'_'))
            ++end;
        names.insert(text.substr(at, end - at));
        at = end - 1;
    }
    return names;
}

TEST(StringTables, TheUsageTextNamesTheOptionsOfTheCommandLineAndNoOther) {
    // The parser's own table: every slash option and every setting it gives
    // is in the usage text, in every language, and the text names no option
    // or setting the parser does not have.
    std::size_t count = 0;
    const CommandLineOption* options = CommandLineOptions(count);
    std::set<std::wstring> known, slashOptions, variables;
    for (std::size_t i = 0; i < count; ++i) {
        known.insert(options[i].name);
        variables.insert(options[i].variable);
        if (options[i].name[0] == L'/')
            slashOptions.insert(options[i].name);
    }
    const HMODULE self = GetModuleHandleW(nullptr);
    for (LANGID language : {kEnglish, kFrench, kJapanese, kChinese}) {
        SCOPED_TRACE("language " + std::to_string(language));
        const std::wstring usage = StringsOf(self, language).at(IDS_USAGE);
        const std::set<std::wstring> words = OptionWords(usage);
        for (const std::wstring& word : words)
            EXPECT_EQ(1u, known.count(word)) << "not an option: " << Narrow(word);
        for (const std::wstring& option : slashOptions)
            EXPECT_EQ(1u, words.count(option)) << "not in the usage text: " << Narrow(option);
        const std::set<std::wstring> names = SettingNames(usage);
        for (const std::wstring& name : names)
            EXPECT_EQ(1u, variables.count(name)) << "no setting of the command line: " << Narrow(name);
        EXPECT_EQ(variables, names);
        EXPECT_EQ(std::wstring::npos, usage.find(L".sh"));
    }
}

TEST(StringTables, LoadStringServesTheWholeUsageText) {
    const HMODULE self = GetModuleHandleW(nullptr);
    const WCHAR* text = nullptr;
    const int length = LoadStringW(self, IDS_USAGE, reinterpret_cast<LPWSTR>(&text), 0);
    ASSERT_GT(length, 1024);
    const std::wstring loaded(text, static_cast<size_t>(length));
    bool matches = false;
    for (LANGID language : {kEnglish, kFrench, kJapanese, kChinese})
        matches = matches || StringsOf(self, language).at(IDS_USAGE) == loaded;
    EXPECT_TRUE(matches) << Narrow(loaded);
}

TEST(TestModule, HoldsOnlyItsMarkedSubset) {
    const std::wstring path = qztest::BinDir() + L"test-module.rsc";
    const UniqueModule module(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_NE(module.get(), nullptr) << "error " << GetLastError();

    Collected<std::wstring> types;
    EnumResourceTypesW(module.get(), CollectType, reinterpret_cast<LONG_PTR>(&types));
    EXPECT_FALSE(types.failed);
    EXPECT_EQ(types.items, std::vector<std::wstring>{L"#6"}) << "only a string table";
    EXPECT_EQ(LanguagesOf(module.get()), std::set<LANGID>{kEnglish});

    // Each text is the built-in English one behind a marker, so a test sees
    // where a message came from and the placeholders still line up.
    const std::map<UINT, std::wstring> strings = StringsOf(module.get(), kEnglish);
    const std::set<UINT> subset = {IDS_LOG_INITIATED,        IDS_VIEWER_TITLE, IDS_BAD_COMMAND_LINE,
                                   IDS_MISSING_ARGUMENT,     IDS_ERROR_AT,     IDS_LANGUAGE_DIALOG_TITLE,
                                   IDS_LANGUAGE_DIALOG_LABEL};
    EXPECT_EQ(Ids(strings), subset);
    for (const auto& entry : strings) {
        SCOPED_TRACE("message " + std::to_string(entry.first));
        ASSERT_TRUE(kEnglishTexts.count(entry.first));
        EXPECT_EQ(Narrow(entry.second), Narrow(L"TEST MODULE: " + kEnglishTexts.at(entry.first)));
    }
}
