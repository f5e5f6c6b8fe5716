#include "diag/bootstrap_log.h"

#include <iostream>
#include <memory>
#include <streambuf>
#include <system_error>
#include <utility>
#include <vector>

#include <ntsecapi.h>

#include "system/errors.h"
#include "diag/messages.h"
#include "diag/text_conversion.h"
#include "system/own_files.h"
#include "system/win_owners.h"

namespace {

const wchar_t kErrorPrefix[] = L"QZSETUP:BOOTSTRAP:ERR:";
const wchar_t kInfoPrefix[] = L"QZSETUP:BOOTSTRAP:INFO:";
const wchar_t kByteOrderMark = L'\xFEFF';

// The log file as a wide stream buffer: every character is stored as it is,
// two bytes in little-endian order, and every write lands at the current end
// of the file, after whatever the installer has appended meanwhile.
class LogFileBuffer : public std::wstreambuf {
public:
    explicit LogFileBuffer(UniqueFileHandle file) : m_file(std::move(file)) {
        setp(m_area, m_area + kAreaSize);
    }
    LogFileBuffer(const LogFileBuffer&) = delete;
    LogFileBuffer& operator=(const LogFileBuffer&) = delete;
    ~LogFileBuffer() override { WritePending(); }

    HANDLE file() const noexcept { return m_file.get(); }

protected:
    int_type overflow(int_type ch) override {
        const bool written = WritePending();
        if (traits_type::eq_int_type(ch, traits_type::eof()))
            return written ? traits_type::not_eof(ch) : traits_type::eof();
        *pptr() = traits_type::to_char_type(ch);
        pbump(1);
        return written ? ch : traits_type::eof();
    }

    int sync() override { return WritePending() ? 0 : -1; }

private:
    static constexpr std::size_t kAreaSize = 4096;

    // Writes what the put area holds and empties it, also when the write fails.
    bool WritePending() {
        const char* bytes = reinterpret_cast<const char*>(pbase());
        DWORD remaining = static_cast<DWORD>((pptr() - pbase()) * sizeof(wchar_t));
        setp(m_area, m_area + kAreaSize);
        if (remaining == 0)
            return true;
        LARGE_INTEGER origin{};
        if (!SetFilePointerEx(m_file.get(), origin, nullptr, FILE_END))
            return false;
        while (remaining != 0) {
            DWORD written = 0;
            if (!WriteFile(m_file.get(), bytes, remaining, &written, nullptr) || written == 0)
                return false;
            bytes += written;
            remaining -= written;
        }
        return true;
    }

    UniqueFileHandle m_file;
    wchar_t m_area[kAreaSize];
};

// The process-wide log stream: open from SetLogFile until process exit, when
// it writes its closing line. It is constructed before the program starts, so
// its closing is registered before the release of the resource module, and
// therefore runs after it.
class LogFile {
public:
    constexpr LogFile() noexcept = default;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile() { Close(); }

    bool IsOpen() const { return m_buffer != nullptr; }
    // The open log file; null when none is open.
    HANDLE File() const noexcept { return m_buffer ? m_buffer->file() : nullptr; }

    // Takes over `buffer`; a log open before is closed.
    void Replace(std::unique_ptr<LogFileBuffer> buffer) {
        Close();
        m_buffer = std::move(buffer);
    }

private:
    void Close() noexcept {
        if (!m_buffer)
            return;
        try {
            const std::wstring line = FormatLogLine(nullptr, LoadBuiltInMessage(IDS_LOG_COMPLETED), LOG_INFO);
            m_buffer->sputn(line.data(), static_cast<std::streamsize>(line.size()));
        } catch (...) {
            // The log closes without its last line.
        }
        m_buffer->pubsync();
        // No stream may keep writing into a closed log.
        for (std::wostream* stream : {&std::wcout, &std::wcerr, &std::wclog})
            if (stream->rdbuf() == m_buffer.get())
                stream->rdbuf(nullptr);
        m_buffer.reset();
    }

    std::unique_ptr<LogFileBuffer> m_buffer;
};

LogFile g_logFile;

// Write access only: the installer writes nothing into a file that another
// handle holds open for reading. Others may read and write (the installer
// appends its own log), but not delete or rename it while the run holds it:
// the name cannot be swapped between the run's open and the installer's.
constexpr DWORD kLogAccess = GENERIC_WRITE;
constexpr DWORD kLogShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

// How many numbered names beside a log file that cannot be had are tried,
// and then how many with a random part, which nobody can plant in advance.
constexpr unsigned kNumberedNames = 99;
constexpr unsigned kRandomNames = 4;

// "<name>-<part><extension>": a fresh name beside `path` (for the default
// log, "<product>_install-<n>.log").
std::wstring FreshName(const std::wstring& path, const std::wstring& part) {
    const std::size_t nameStart = path.find_last_of(L"\\/:") + 1; // 0 when there is no folder
    std::size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos || dot < nameStart)
        dot = path.size();
    return path.substr(0, dot) + L"-" + part + path.substr(dot);
}

// Sixteen hexadecimal digits from the system's random number generator (the
// time when it has none).
std::wstring RandomPart() {
    unsigned char bytes[8] = {};
    if (!RtlGenRandom(bytes, sizeof bytes)) {
        FILETIME now{};
        GetSystemTimePreciseAsFileTime(&now);
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);
        const unsigned long long mixed =
            ((static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime) ^
            static_cast<unsigned long long>(counter.QuadPart) ^
            (static_cast<unsigned long long>(GetCurrentProcessId()) << 40);
        for (unsigned i = 0; i < sizeof bytes; ++i)
            bytes[i] = static_cast<unsigned char>(mixed >> (8 * i));
    }
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring part;
    for (const unsigned char byte : bytes) {
        part += digits[byte >> 4];
        part += digits[byte & 0xF];
    }
    return part;
}

// The log file, made by the run itself (see CreateOwnFile); when its name
// cannot be had (another program holds it, a folder stands there), a fresh
// name beside it. `used` is the path of the file made. Not valid when none
// could be made, with the system's error in `error`.
UniqueFileHandle MakeLogFile(const std::wstring& path, std::wstring& used, DWORD& error) {
    used = path;
    error = 0;
    bool nameHeld = false;
    UniqueFileHandle file = CreateOwnFile(path.c_str(), kLogAccess, kLogShare, error, nameHeld);
    if (file.valid() || !nameHeld)
        return file;
    const DWORD first = error;
    for (unsigned n = 1; n <= kNumberedNames + kRandomNames; ++n) {
        used = FreshName(path, n <= kNumberedNames ? std::to_wstring(n) : RandomPart());
        file = CreateFreshOwnFile(used.c_str(), kLogAccess, kLogShare, error);
        if (file.valid())
            return file;
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED)
            break;
    }
    // Why the name asked for could not be had.
    error = first;
    return file;
}

// A stream failure whose text is the message alone (the standard one appends
// the description of its error code).
class LogOpenFailure : public std::ios_base::failure {
public:
    explicit LogOpenFailure(const std::string& text)
        : std::ios_base::failure(text, std::io_errc::stream), m_text(text) {}
    const char* what() const noexcept override { return m_text.c_str(); }

private:
    std::string m_text;
};

[[noreturn]] void RaiseOpenFailure(const wchar_t* location) {
    std::string text;
    LoadResourceMessageA(IDS_LOG_OPEN_FAILED, text);
    ThrowIosFailure(LogOpenFailure(text), location);
}

// A log that cannot be made: an error line with the system's reason
// (message 155, the error as its code), then the failure to open the log
// (message 112).
[[noreturn]] void RaiseOpenFailure(const wchar_t* location, const std::wstring& path, DWORD error) {
    const std::wstring reason = SystemErrorReason(error);
    std::wstring line;
    FormatResourceMessage(IDS_LOG_NOT_MADE, line, path, reason);
    WriteLogLine(error, line, LOG_ERROR);
    RaiseOpenFailure(location);
}

// The one layout of a log line, written piece by piece into `out` (a wide
// stream, or anything with its write and put): nothing is allocated on the
// way that `out` does not allocate itself, so the result of a run whose
// memory has run out still reaches an open log.
template <class Out> void PutLogLine(Out& out, const DWORD* code, const std::wstring& text, LogKind kind) {
    const wchar_t* const prefix = kind == LOG_ERROR ? kErrorPrefix : kInfoPrefix;
    out.write(prefix, static_cast<std::streamsize>(std::char_traits<wchar_t>::length(prefix)));
    if (code)
        for (const char digit : DecimalDigits(*code))
            out.put(static_cast<wchar_t>(digit));
    out.put(L':');
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.write(L"\r\n", 2);
}

// A log line collected as text.
struct LineText {
    std::wstring line;
    void write(const wchar_t* text, std::streamsize count) {
        line.append(text, static_cast<std::size_t>(count));
    }
    void put(wchar_t c) { line += c; }
};

void WriteLine(const DWORD* code, const std::wstring& text, LogKind kind) {
    PutLogLine(kind == LOG_ERROR ? std::wcerr : std::wcout, code, text, kind);
}

// Holds the folders of the log's path, or raises as the run ends when it
// cannot: a folder that is a link, or that another program keeps from being
// held, is message 112; any other failure of the path the system's error.
// The plan raises the same, so that it ends as the run would.
void HoldLogFolders(const std::wstring& path, MissingFolders missing, HeldFolders& folders) {
    const DWORD refused = HoldFolders(path.c_str(), missing, folders);
    if (IsFolderRefusal(refused))
        RaiseOpenFailure(L" Fnc : SetLogFile; Line : 55; ", path, refused);
    if (refused != 0)
        ThrowWinException(refused, L" Fnc : SetLogFile; Line : 52; ");
}

// What a raise tells the log before its exception is thrown: message 129 as
// an error line, and the catalogue's texts of the described failures.
void LogRaise(const wchar_t* location, const std::wstring& description, const DWORD* code) {
    std::wstring line;
    FormatResourceMessage(IDS_ERROR_AT, line, location, description);
    if (code)
        WriteLogLine(*code, line, LOG_ERROR);
    else
        WriteLogLine(line, LOG_ERROR);
}

void LogRaiseWhat(const wchar_t* location, const char* what) {
    const std::unique_ptr<wchar_t[]> description = _Mb2Uni(what);
    LogRaise(location, std::wstring(description.get()), nullptr);
}

bool DescribeRaise(WORD id, std::wstring& text, const std::wstring& first, const std::wstring& second,
                   const std::wstring& third) {
    return FormatResourceMessage(id, text, first, second, third);
}

const RaiseReporter g_logReporter{LogRaise, LogRaiseWhat, DescribeRaise};

// Installed as the program starts, before anything can raise: every program
// that writes this log hears its raises.
struct ReporterInstaller {
    ReporterInstaller() { SetRaiseReporter(&g_logReporter); }
} g_reporterInstaller;

} // namespace

std::wstring FormatLogLine(const DWORD* code, const std::wstring& text, LogKind kind) {
    LineText out;
    PutLogLine(out, code, text, kind);
    return out.line;
}

void WriteLogLine(const std::wstring& text, LogKind kind) {
    WriteLine(nullptr, text, kind);
}

void WriteLogLine(DWORD code, const std::wstring& text, LogKind kind) {
    WriteLine(&code, text, kind);
}

std::wstring SetLogFile(const std::wstring& path, std::wstringbuf& earlyBuffer) {
    // Its folders are held until the file is made, so that none of them can
    // be turned into a link meanwhile; one that is a link already, or that
    // another program keeps from being held, is not used.
    HeldFolders folders;
    HoldLogFolders(path, MissingFolders::Create, folders);

    std::wstring used;
    DWORD error = 0;
    UniqueFileHandle file = MakeLogFile(path, used, error);
    if (!file.valid())
        RaiseOpenFailure(L" Fnc : SetLogFile; Line : 55; ", path, error);
    folders.release();

    // Said in the log's first lines, and kept for an attended user.
    std::wstring elsewhere;
    if (used != path) {
        std::wstring notice;
        FormatResourceMessage(IDS_LOG_FRESH_NAME, notice, path, used);
        elsewhere = FormatLogLine(nullptr, notice, LOG_INFO);
    }

    // Looked up while the streams still end in the early buffer: whatever the
    // lookup itself logs (a resource module that fails to load) follows the opening line.
    std::wstring opening;
    LoadResourceMessage(IDS_LOG_INITIATED, opening);

    std::unique_ptr<LogFileBuffer> buffer(new LogFileBuffer(std::move(file)));
    LogFileBuffer* const logBuffer = buffer.get();
    std::wcerr.rdbuf(logBuffer);
    std::wcout.rdbuf(logBuffer);
    g_logFile.Replace(std::move(buffer));

    std::wcout.put(kByteOrderMark);
    WriteLogLine(opening, LOG_INFO);
    std::wcout.write(elsewhere.data(), static_cast<std::streamsize>(elsewhere.size()));

    const std::wstring early = earlyBuffer.str();
    std::wcout.write(early.data(), static_cast<std::streamsize>(early.size()));
    std::wcout.clear();
    earlyBuffer.str(elsewhere);
    return used;
}

LogFilePlan PlanLogFile(const std::wstring& path) {
    HeldFolders folders;
    HoldLogFolders(path, MissingFolders::Leave, folders);
    LogFilePlan plan;
    plan.path = path;
    // Folders that are not there yet would be made, and the file in them.
    if (!folders.complete() || LookAtName(path.c_str()) != NameState::Held)
        return plan;
    for (unsigned n = 1; n <= kNumberedNames; ++n) {
        plan.path = FreshName(path, std::to_wstring(n));
        if (LookAtName(plan.path.c_str()) == NameState::Free)
            return plan;
    }
    plan.path = FreshName(path, L"<random>");
    plan.randomName = true;
    return plan;
}

bool IsLogFileOpen() {
    return g_logFile.IsOpen();
}

void ConfirmLogFile(const std::wstring& path, const wchar_t* location) {
    if (g_logFile.IsOpen() && !IsStillTheFile(path.c_str(), g_logFile.File()))
        RaiseOpenFailure(location);
}

bool IsLogFileStillThere(const std::wstring& path) {
    return !g_logFile.IsOpen() || IsStillTheFile(path.c_str(), g_logFile.File());
}

void FlushLogStreams() {
    std::wcout.flush();
    std::wcerr.flush();
}

LogStreamCapture::LogStreamCapture(std::wstreambuf& buffer)
    : m_out(std::wcout.rdbuf(&buffer)), m_err(std::wcerr.rdbuf(&buffer)) {}

LogStreamCapture::~LogStreamCapture() {
    std::wcout.flush();
    std::wcout.rdbuf(m_out);
    std::wcerr.rdbuf(m_err);
}
