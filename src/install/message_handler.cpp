#include "install/message_handler.h"

#include <msi.h>
#include <msiquery.h>

#include <exception>

#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "diag/messages.h"
#include "diag/text_conversion.h"
#include "msi/database.h"
#include "system/msi_api.h"
#include "settings/variables.h"

using QZ::MSInstaller::Msi;

DWORD g_lastInstallerError = 0;
std::wstring g_lastInstallerMessage;

namespace {

// The delimiters of an Error-table template. Each number is also the state
// the scan is in once that delimiter has been passed (0: none yet).
struct Delimiter {
    const wchar_t* text;
    std::size_t length;
    int number;
    unsigned acceptedStates; // bit n set: accepted in state n
    bool searchPiece;        // whether the text before it must occur in the message
};

constexpr unsigned StateBit(int state) {
    return 1u << state;
}

const Delimiter g_delimiters[] = {
    {L"{{", 2, 1, StateBit(0) | StateBit(2) | StateBit(8), true},
    {L"}}", 2, 2, StateBit(1), false},
    {L"[", 1, 4, StateBit(0) | StateBit(2) | StateBit(8), true},
    {L"]", 1, 8, StateBit(4), false},
};

// The first delimiter at or after `from`; null at the end of the template.
const Delimiter* NextDelimiter(const std::wstring& templ, std::size_t from, std::size_t& at) {
    for (at = from; at < templ.size(); ++at) {
        for (const Delimiter& delimiter : g_delimiters) {
            if (templ.compare(at, delimiter.length, delimiter.text) == 0)
                return &delimiter;
        }
    }
    return nullptr;
}

void ReportMisplacedDelimiter(int found, int inEffect) {
    std::wstring text;
    FormatResourceMessage(IDS_DELIMITER_ERROR, text, found, inEffect);
    WriteLogLine(text, LOG_ERROR);
    FlushLogStreams();
}

// Looks `piece` up in `message` from `position`; moves behind it when found.
bool FindPiece(const std::wstring& message, const std::wstring& templ, std::size_t pieceStart,
               std::size_t pieceLength, std::size_t& position) {
    if (pieceLength == 0)
        return true;
    const std::size_t found = message.find(templ.c_str() + pieceStart, position, pieceLength);
    if (found == std::wstring::npos)
        return false;
    position = found + pieceLength;
    return true;
}

std::wstring FormatErrorRecord(MSIHANDLE record) {
    std::wstring text;
    QZ::MSInstaller::FormatRecordText(record, text);
    return text;
}

// Applies the chosen language transform to the package database, so that the
// Error table holds the texts of the language the installer speaks.
void ApplyLanguageTransform(MSIHANDLE database) {
    std::wstring transform;
    if (!GetVariable(QZ_SETUP_LANG_TRANSFORM, transform))
        return;
    const auto& msi = Msi();
    const UINT result = msi.DatabaseApplyTransformW(database, transform.c_str(), 0);
    if (result == ERROR_SUCCESS)
        return;
    MsiHandle record(msi.GetLastErrorRecord());
    const std::wstring recordText = FormatErrorRecord(record.get());
    std::wstring text;
    FormatResourceMessage(IDS_TRANSFORM_FAILED, text, transform, static_cast<unsigned>(result), recordText);
    WriteLogLine(text, LOG_ERROR);
    FlushLogStreams();
}

// The Error number of the row whose template matches the message, or
// ERROR_INSTALL_FAILURE when none does. Generic rows (the installer's
// standard headers such as "Error [1]. ", or "{{Fatal error: }}" with no
// literal text at all) match nearly every message; when several rows match,
// the one with the most literal text is the most specific, and on a tie the
// first in the installer's order wins. Rows after the first match are only
// compared: the log reports the templates it reported before there was a
// choice, no more.
DWORD FindErrorNumber(MSIHANDLE database, const std::wstring& message) {
    MsiSQL::SQLView view(MsiSQL::SQLView::Create(database, L"SELECT Error, Message FROM Error"), true);
    view.Execute();
    std::wstring templ;
    bool found = false;
    std::size_t bestLength = 0;
    DWORD bestNumber = ERROR_INSTALL_FAILURE;
    while (view.FetchNext()) {
        view.GetValue(2, templ);
        std::size_t length = 0;
        if (MatchesErrorTemplate(templ, message, &length, found) && (!found || length > bestLength)) {
            int number = 0;
            view.GetValue(1, number);
            found = true;
            bestLength = length;
            bestNumber = static_cast<DWORD>(number);
        }
    }
    return bestNumber;
}

// Logging from inside the installer's callback must not throw either.
void LogContainedFailure(const DWORD* code, const char* description) noexcept {
    try {
        std::wstring text;
        if (description)
            text = _Mb2Uni(description).get();
        else
            LoadResourceMessage(IDS_UNEXPECTED_EXCEPTION, text);
        if (code)
            WriteLogLine(*code, text, LOG_ERROR);
        else
            WriteLogLine(text, LOG_ERROR);
        FlushLogStreams();
    } catch (...) {
        // Nothing more can be done for the log here.
    }
}

} // namespace

bool MatchesErrorTemplate(const std::wstring& templ, const std::wstring& message, std::size_t* literalLength,
                          bool quiet) {
    int state = 0;
    std::size_t templPos = 0;
    std::size_t messagePos = 0;
    std::size_t searched = 0;
    for (;;) {
        std::size_t at = 0;
        const Delimiter* delimiter = NextDelimiter(templ, templPos, at);
        if (!delimiter) {
            if (!FindPiece(message, templ, templPos, templ.size() - templPos, messagePos))
                return false;
            if (literalLength)
                *literalLength = searched + (templ.size() - templPos);
            return true;
        }
        if (!quiet && (delimiter->acceptedStates & StateBit(state)) == 0)
            ReportMisplacedDelimiter(delimiter->number, state);
        state = delimiter->number;
        if (delimiter->searchPiece) {
            if (!FindPiece(message, templ, templPos, at - templPos, messagePos))
                return false;
            searched += at - templPos;
        }
        templPos = at + delimiter->length;
    }
}

int WINAPI InstallerMessageHandler(LPVOID context, UINT, LPCWSTR message) {
    // The installer cannot take an exception: every failure ends here, is
    // logged, and the installation goes on with the generic failure number.
    DWORD number = ERROR_INSTALL_FAILURE;
    try {
        const MSIHANDLE database = static_cast<MSIHANDLE>(reinterpret_cast<UINT_PTR>(context));
        ApplyLanguageTransform(database);
        number = FindErrorNumber(database, message ? message : L"");
    } catch (const MSIException& e) {
        const DWORD code = e.GetError();
        LogContainedFailure(&code, e.what());
    } catch (const WinException&) {
        // Already logged with its location when it was raised.
    } catch (const std::exception& e) {
        LogContainedFailure(nullptr, e.what());
    } catch (...) {
        LogContainedFailure(nullptr, nullptr);
    }
    g_lastInstallerError = number;
    try {
        g_lastInstallerMessage = message ? message : L"";
    } catch (const std::exception& e) {
        LogContainedFailure(nullptr, e.what());
    }
    return 0;
}
