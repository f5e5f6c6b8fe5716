#include "planning/derived_settings.h"

#include <windows.h>

#include <cwchar>
#include <utility>
#include <vector>

#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "diag/messages.h"
#include "language/language_choice.h"
#include "msi/transform_reader.h"
#include "planning/package_location.h"
#include "system/path_helpers.h"

namespace {

void LogMessage(WORD messageId, DerivationNotes& notes) {
    std::wstring text;
    FormatResourceMessage(messageId, text);
    WriteLogLine(text, LOG_ERROR);
    notes.refusal.id = messageId;
    notes.refusal.text = text;
}

// The value of an environment variable; false, with the system's error, when
// GetEnvironmentVariableW answers 0 for it (unset, or set to nothing). A value
// longer than the usual 260 characters is read whole rather than cut.
bool ReadEnvironment(const wchar_t* name, std::wstring& value, DWORD& error) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            error = GetLastError();
            return false;
        }
        if (length < buffer.size()) {
            value.assign(buffer.data(), length);
            return true;
        }
        buffer.resize(length); // the size needed, terminator included
    }
}

// The help file: the one given, made absolute, or the first of
// <dir><name>_<code> that exists, by the user's language codes and then by
// directory (package directory, executable's directory). None found leaves
// the built-in usage text.
void DeriveHelpFile(VariableMap& variables, const RunFacts* facts) {
    const auto given = variables.find(QZ_SETUP_HELP_FILE);
    if (given != variables.end()) {
        Rel2AbsFilePath(given->second);
        return;
    }
    const std::wstring directories[] = {variables[QZ_SETUP_PACKAGE_DIR], GetModuleDir()};
    const std::wstring& name = variables[QZ_SETUP_PACKAGE_NAME];
    for (const std::wstring& code : facts ? GetUserLangCodes(facts->userLanguage) : GetUserLangCodes()) {
        for (const std::wstring& directory : directories) {
            const std::wstring candidate = directory + name + L"_" + code;
            if (FileExists(candidate)) {
                variables[QZ_SETUP_HELP_FILE] = candidate;
                return;
            }
        }
    }
}

// Holds the transforms given in QZ_SETUP_LANG_TRANSFORM (a list separated by
// semicolons) with the package: each one that names a file, relative names
// being taken in the package's folder as the installer takes them. Entries
// for transforms stored inside the package (":name") have no file. A file
// that is not there, or that does not apply to the package, ends the run
// here with a TransformFailure: the installer would otherwise go on without
// it and report success.
void HoldGivenTransforms(const std::wstring& transforms, QZ::MSInstaller::Package& package) {
    const std::wstring packageDir = package.Path().substr(0, package.Path().find_last_of(L"\\/") + 1);
    std::size_t start = 0;
    while (start <= transforms.size()) {
        std::size_t end = transforms.find(L';', start);
        if (end == std::wstring::npos)
            end = transforms.size();
        std::wstring entry = transforms.substr(start, end - start);
        start = end + 1;
        // The installer's marks for transforms kept at the source or by full path.
        if (!entry.empty() && (entry[0] == L'@' || entry[0] == L'|'))
            entry.erase(0, 1);
        if (entry.empty() || entry[0] == L':')
            continue;
        const bool absolute = entry[0] == L'\\' || entry[0] == L'/' || (entry.size() > 1 && entry[1] == L':');
        const std::wstring path = absolute ? entry : packageDir + entry;
        HeldFile held = HeldFile::Hold(path, L" Fnc : HoldGivenTransforms; Line : 21; ");
        if (!held.held())
            ThrowTransformFailure(ERROR_INSTALL_TRANSFORM_FAILURE, path, package.Path(),
                                  held.error() != ERROR_SUCCESS ? held.error()
                                                                : static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
                                  L" Fnc : HoldGivenTransforms; Line : 24; ");
        const UINT applied = ApplyTransformInMemory(package.Path(), path);
        if (applied != ERROR_SUCCESS)
            ThrowTransformFailure(ERROR_INSTALL_TRANSFORM_FAILURE, path, package.Path(), applied,
                                  L" Fnc : HoldGivenTransforms; Line : 29; ");
        package.KeepTransform(std::move(held));
    }
}

} // namespace

std::wstring LogFileNamePart(const std::wstring& packageName) {
    static const wchar_t kNotInFileNames[] = L"<>:\"/\\|?*";
    std::wstring part = packageName;
    for (wchar_t& c : part)
        if (c < 32 || std::wcschr(kNotInFileNames, c) != nullptr)
            c = L'_';
    for (std::size_t end = part.size(); end > 0 && (part[end - 1] == L'.' || part[end - 1] == L' '); --end)
        part[end - 1] = L'_';
    return part;
}

bool DeriveDefaultLogFile(const std::wstring& packageName, std::wstring& logFile) {
    std::wstring directory;
    DWORD error = 0;
    if (!ReadEnvironment(L"TEMP", directory, error)) {
        if (ReadEnvironment(L"SystemRoot", directory, error) ||
            ReadEnvironment(L"SystemDrive", directory, error)) {
            directory += L"\\Temp";
        } else {
            std::wstring text;
            GetSystemErrorText(error, text);
            WriteLogLine(error, text, LOG_ERROR);
            return false;
        }
    }
    logFile = directory + L"\\" + LogFileNamePart(packageName) + L"_install.log";
    return true;
}

namespace {

bool DeriveAll(VariableMap& variables, QZ::MSInstaller::Package& package, PlanRefusal& refusal,
               DerivationNotes& notes) {
    refusal = PlanRefusal::Other;
    // Package directory: beside the executable unless given.
    const auto packageDir = variables.find(QZ_SETUP_PACKAGE_DIR);
    if (packageDir == variables.end())
        variables[QZ_SETUP_PACKAGE_DIR] = GetModuleDir();
    else
        Rel2AbsDirPath(packageDir->second);

    if (!LocatePackage(variables, package, &notes.candidates,
                       notes.facts ? &notes.facts->machine : nullptr)) {
        LogMessage(IDS_NO_INSTALLATION_PACKAGE, notes);
        refusal = PlanRefusal::PackageNotFound;
        return false;
    }

    // Help installs nothing: only the help file is needed.
    if (variables.count(QZ_SETUP_HELP)) {
        DeriveHelpFile(variables, notes.facts);
        refusal = PlanRefusal::None;
        return true;
    }

    const auto response = variables.find(QZ_SETUP_RESPONSE_FILE);
    if (response != variables.end())
        Rel2AbsFilePath(response->second);

    const auto mode = variables.find(QZ_SETUP_MODE);
    if (mode != variables.end())
        TrimSpaces(mode->second);

    const auto log = variables.find(QZ_SETUP_LOG_FILE);
    if (log != variables.end()) {
        // A relative log file stays relative: it opens against the current directory.
        TrimSpacesAndQuotes(log->second);
    } else {
        std::wstring logFile;
        if (!DeriveDefaultLogFile(variables[QZ_SETUP_PACKAGE_NAME], logFile)) {
            LogMessage(IDS_NO_LOG_DIRECTORY, notes);
            return false;
        }
        variables[QZ_SETUP_LOG_FILE] = logFile;
    }

    if (!variables.count(QZ_SETUP_MODE))
        variables[QZ_SETUP_MODE] = DefaultSetupModeName(variables);

    // Transforms lie beside the executable unless their directory is given.
    auto transformDir = variables.find(QZ_SETUP_LANG_TRANSFORM_DIR);
    if (transformDir == variables.end())
        transformDir = variables.emplace(QZ_SETUP_LANG_TRANSFORM_DIR, GetModuleDir()).first;
    Rel2AbsDirPath(transformDir->second);

    const bool transformGiven = variables.count(QZ_SETUP_LANG_TRANSFORM) != 0;
    const int chosen = SetLanguageTransform(variables, package, notes.planOnly ? &notes.language : nullptr,
                                            notes.askNobody, notes.facts);
    notes.languageDecided = notes.planOnly;
    if (!chosen) {
        LogMessage(IDS_NO_LANGUAGE_TRANSFORM, notes);
        return false;
    }
    if (transformGiven)
        HoldGivenTransforms(variables[QZ_SETUP_LANG_TRANSFORM], package);

    if (!variables.count(QZ_SUPPRESS_REBOOT))
        variables[QZ_SUPPRESS_REBOOT] = L"1";
    refusal = PlanRefusal::None;
    return true;
}

} // namespace

bool DeriveSettings(VariableMap& variables, QZ::MSInstaller::Package& package, PlanRefusal* refusal,
                    DerivationNotes* notes) {
    PlanRefusal why = PlanRefusal::Other;
    DerivationNotes own;
    const bool derived = DeriveAll(variables, package, why, notes ? *notes : own);
    if (refusal)
        *refusal = why;
    return derived;
}
