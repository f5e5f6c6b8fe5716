// Exception types of the bootstrapper and the operations that raise them.
// They stand beneath the log: a raise tells the log through the reporter the
// log installs (RaiseReporter), never by calling up into it.
// Every raising point passes its own location string, of the form
// L" Fnc : Qualified::Name; Line : 12; ".
#pragma once
#include <windows.h>
#include <msi.h>

#include <ios>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>

// A Windows or installer error number; its text is built on the first what().
class WinException : public std::runtime_error {
public:
    explicit WinException(DWORD error);
    WinException(const WinException& other);
    WinException& operator=(const WinException&) = delete;
    ~WinException() override;

    const char* what() const noexcept override;
    DWORD GetError() const noexcept { return m_error; }

protected:
    // The system text of the error number, in the ANSI code page.
    const char* SystemText() const noexcept;
    void CacheText(char* owned) const noexcept;
    // The text built so far, or null.
    const char* CachedText() const noexcept { return m_text; }

private:
    mutable char* m_text = nullptr;
    DWORD m_error;
};

// An installer error that comes with the installer's own error record.
class MSIException : public WinException {
public:
    MSIException(DWORD error, MSIHANDLE record);
    MSIException(const MSIException& other);
    ~MSIException() override;

    const char* what() const noexcept override;
    MSIHANDLE GetRecord() const noexcept;

private:
    struct Record; // shared by copies, closed once when the last one goes
    std::shared_ptr<Record> m_record;
};

// A Windows or installer error number that comes with a text of the run's
// own (a message of the catalogue, formatted) in place of the system's.
class DescribedFailure : public WinException {
public:
    DescribedFailure(DWORD error, const std::wstring& text);
    DescribedFailure(const DescribedFailure& other);
    ~DescribedFailure() override;

    // The text in the ANSI code page.
    const char* what() const noexcept override;
    // The text as it was made.
    const std::wstring& Text() const noexcept;

private:
    std::shared_ptr<const std::wstring> m_text; // copies never throw
};

// A file the run could not hold against changes while the installer uses it
// (another program has it open for writing): the system's error number, with
// message 147 (the file and the system's text) as its text.
class FileHoldFailure : public DescribedFailure {
public:
    using DescribedFailure::DescribedFailure;
};

// A transform that the installer would be given and cannot use (it does not
// exist, cannot be read as a transform, or does not apply to the package):
// the result of the run, with message 162 (the transform, the package and the
// reason) as its text.
class TransformFailure : public DescribedFailure {
public:
    using DescribedFailure::DescribedFailure;
};

// Whether `error` says that another program has the file open in a way that
// excludes the run's (a sharing or lock violation): a passing cause.
bool IsSharingError(DWORD error);

// A stream failure whose text is the description alone: the standard one
// appends the text of its error code (": iostream error").
class StreamFailure : public std::ios_base::failure {
public:
    explicit StreamFailure(const std::string& description,
                           const std::error_code& code = std::make_error_code(std::io_errc::stream));
    const char* what() const noexcept override;

private:
    std::shared_ptr<const std::string> m_text; // copies never throw
};

// The system's text for an error number, exactly as the system gives it
// (with its trailing line break); empty and false when there is none.
bool GetSystemErrorText(DWORD error, std::wstring& text);
// The same without its line end, for a text that goes into a message: empty
// when the system has none.
std::wstring SystemErrorReason(DWORD error);

// Where a raise is told before its exception is thrown. The bootstrap log
// installs the one reporter (SetRaiseReporter) as the program starts: it
// writes message 129 as an error line, and gives the catalogue's texts of the
// described failures. Without a reporter a raise is thrown untold, and a
// described failure says what the system's text of its error says.
struct RaiseReporter {
    // Message 129: the location and the description, with `code` when not null.
    void (*raised)(const wchar_t* location, const std::wstring& description, const DWORD* code);
    // Message 129 for a failure that describes itself in the ANSI code page.
    void (*raisedWhat)(const wchar_t* location, const char* what);
    // Message `id` of the catalogue, formatted with up to three texts; false
    // when the catalogue has no such message.
    bool (*describe)(WORD id, std::wstring& text, const std::wstring& first, const std::wstring& second,
                     const std::wstring& third);
};
void SetRaiseReporter(const RaiseReporter* reporter) noexcept;

// Log message 129 (location and system text) with the error as code, then throw.
[[noreturn]] void ThrowWinException(DWORD error, const wchar_t* location);
// Log message 129 (location and system text) with the error as code, then
// throw a FileHoldFailure naming `path`.
[[noreturn]] void ThrowFileHoldFailure(const std::wstring& path, DWORD error, const wchar_t* location);
// Log message 129 (location and the system text of `cause`) with `cause` as
// code, then throw a TransformFailure with `error` naming the transform and
// the package.
[[noreturn]] void ThrowTransformFailure(DWORD error, const std::wstring& transform,
                                        const std::wstring& package, DWORD cause, const wchar_t* location);
// Throws without logging; callers take the record from MsiGetLastErrorRecord.
[[noreturn]] void ThrowMSIException(MSIHANDLE record, DWORD error, const wchar_t* location);
// Log message 129 (location and what()) without a code, then throw a copy
// that keeps the given exception's text.
[[noreturn]] void ThrowIosFailure(const std::ios_base::failure& failure, const wchar_t* location);
[[noreturn]] void ThrowBadAlloc(const std::bad_alloc& failure, const wchar_t* location);
// Location fixed: the help display is its only user.
[[noreturn]] void ThrowRuntimeError(const std::runtime_error& failure);
