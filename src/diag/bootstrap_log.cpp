#include "diag/bootstrap_log.h"

#include <iostream>
#include <memory>
#include <streambuf>
#include <system_error>
#include <utility>

#include "diag/errors.h"
#include "diag/messages.h"
#include "diag/text_conversion.h"
#include "system/path_helpers.h"
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

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Write access only: the installer writes nothing into a file that another
// handle holds open for reading.
UniqueFileHandle OpenLogHandle(const std::wstring& path, DWORD disposition) {
    return UniqueFileHandle(CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, disposition,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
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

// Drive and directory of `path`, with their trailing separator; empty for a bare name.
std::wstring DirectoryOf(const std::wstring& path) {
    const std::size_t end = path.find_last_of(L"\\/:");
    return end == std::wstring::npos ? std::wstring() : path.substr(0, end + 1);
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

void SetLogFile(const std::wstring& path, std::wstringbuf& earlyBuffer) {
    const std::wstring directory = DirectoryOf(path);
    if (!directory.empty())
        CreateDirPath(directory);

    {
        const UniqueFileHandle created = OpenLogHandle(path, CREATE_ALWAYS); // created or emptied
        if (!created.valid())
            RaiseOpenFailure(L" Fnc : SetLogFile; Line : 55; ");
    }
    UniqueFileHandle file = OpenLogHandle(path, OPEN_ALWAYS);
    if (!file.valid())
        RaiseOpenFailure(L" Fnc : SetLogFile; Line : 68; ");

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

    const std::wstring early = earlyBuffer.str();
    std::wcout.write(early.data(), static_cast<std::streamsize>(early.size()));
    std::wcout.clear();
    earlyBuffer.str(std::wstring());
}

bool IsLogFileOpen() {
    return g_logFile.IsOpen();
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
