#include "system/errors.h"

#include <msiquery.h>

#include "resources/resource_ids.h"
#include "system/msi_api.h"
#include "system/path_helpers.h"
#include "system/win_owners.h"

namespace {

const char kUntranslatedError[] = "Failed to translate the windows error code to text.";

// The system's message for `error` in a system-allocated block; the length in
// characters, 0 when there is none. Inserts are left as they are: these texts
// come with no arguments.
DWORD FormatSystemMessage(DWORD error, UniqueLocalMemory& text) {
    return FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(text.put()), 0, nullptr);
}

// `length` wide characters in the ANSI code page, in a LocalAlloc block with
// `spare` bytes beyond the text (the first of them the terminator); null when
// nothing converts.
char* ToAnsiLocal(const wchar_t* text, int length, std::size_t spare) {
    const int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return nullptr;
    UniqueLocalMemory block(LocalAlloc(LMEM_FIXED, static_cast<SIZE_T>(size) + spare));
    char* const ansi = static_cast<char*>(block.get());
    if (!ansi || WideCharToMultiByte(CP_ACP, 0, text, length, ansi, size, nullptr, nullptr) != size)
        return nullptr;
    ansi[size] = '\0';
    return static_cast<char*>(block.release());
}

// The installer's formatted text of `record`, in the ANSI code page; null
// when the record cannot be formatted or formats to nothing.
char* FormatRecordAnsi(MSIHANDLE record) {
    std::wstring text;
    if (!QZ::MSInstaller::FormatRecordText(record, text) || text.empty())
        return nullptr;
    return ToAnsiLocal(text.c_str(), static_cast<int>(text.size()), 2);
}

// The reporter the log installed; none until it does.
const RaiseReporter* g_raiseReporter = nullptr;

// Message 129 for a raised error, as an error line (when a reporter listens).
void LogRaisedError(const wchar_t* location, const std::wstring& description, const DWORD* code) {
    if (g_raiseReporter)
        g_raiseReporter->raised(location, description, code);
}

void LogRaisedError(const wchar_t* location, const char* what) {
    if (g_raiseReporter)
        g_raiseReporter->raisedWhat(location, what ? what : "");
}

// The catalogue's text of message `id` for a described failure; empty
// without a reporter, or when the catalogue has none (what() then gives the
// system's text of the error).
std::wstring DescribeRaise(WORD id, const std::wstring& first, const std::wstring& second,
                           const std::wstring& third) {
    std::wstring text;
    if (g_raiseReporter)
        g_raiseReporter->describe(id, text, first, second, third);
    return text;
}

// The copy thrown for an allocation failure: the standard type, with the
// text the given failure describes itself by (a plain std::bad_alloc would
// say "std::bad_alloc" where the log says "bad allocation"). The text is kept
// in place: memory is what ran out.
class BadAllocCopy : public std::bad_alloc {
public:
    explicit BadAllocCopy(const std::bad_alloc& failure) noexcept {
        const char* text = failure.what();
        std::size_t i = 0;
        for (; text && text[i] && i + 1 < sizeof m_text; ++i)
            m_text[i] = text[i];
        m_text[i] = '\0';
    }
    const char* what() const noexcept override { return m_text; }

private:
    char m_text[64];
};

} // namespace

// ---------------------------------------------------------------- StreamFailure

StreamFailure::StreamFailure(const std::string& description, const std::error_code& code)
    : std::ios_base::failure(description, code), m_text(std::make_shared<std::string>(description)) {}

const char* StreamFailure::what() const noexcept {
    return m_text->c_str();
}

// ---------------------------------------------------------------- WinException

WinException::WinException(DWORD error) : std::runtime_error(""), m_error(error) {}

WinException::WinException(const WinException& other) : std::runtime_error(""), m_error(other.m_error) {}

WinException::~WinException() {
    if (m_text && m_text != kUntranslatedError)
        LocalFree(m_text);
}

const char* WinException::what() const noexcept {
    return SystemText();
}

const char* WinException::SystemText() const noexcept {
    if (m_text)
        return m_text;
    UniqueLocalMemory text;
    const DWORD length = FormatSystemMessage(m_error, text);
    CacheText(length ? ToAnsiLocal(static_cast<const wchar_t*>(text.get()), static_cast<int>(length), 1)
                     : nullptr);
    return m_text;
}

void WinException::CacheText(char* owned) const noexcept {
    m_text = owned ? owned : const_cast<char*>(kUntranslatedError);
}

// ---------------------------------------------------------------- MSIException

struct MSIException::Record {
    explicit Record(MSIHANDLE record) : handle(record) {}
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;
    ~Record() {
        if (!handle)
            return;
        try {
            QZ::MSInstaller::Msi().CloseHandle(handle);
        } catch (...) {
            // The installer library is gone; so is the handle.
        }
    }

    MSIHANDLE handle;
};

MSIException::MSIException(DWORD error, MSIHANDLE record) : WinException(error) {
    try {
        m_record = std::make_shared<Record>(record);
    } catch (...) {
        const Record closer(record); // the exception never came to own it
        throw;
    }
}

MSIException::MSIException(const MSIException& other) : WinException(other), m_record(other.m_record) {}

MSIException::~MSIException() = default;

const char* MSIException::what() const noexcept {
    if (const char* cached = CachedText())
        return cached;
    char* text = nullptr;
    try {
        text = FormatRecordAnsi(GetRecord());
    } catch (...) {
        text = nullptr;
    }
    if (!text)
        return SystemText();
    CacheText(text);
    return text;
}

MSIHANDLE MSIException::GetRecord() const noexcept {
    return m_record ? m_record->handle : 0;
}

// ---------------------------------------------------------------- DescribedFailure

DescribedFailure::DescribedFailure(DWORD error, const std::wstring& text)
    : WinException(error), m_text(std::make_shared<const std::wstring>(text)) {}

DescribedFailure::DescribedFailure(const DescribedFailure& other)
    : WinException(other), m_text(other.m_text) {}

DescribedFailure::~DescribedFailure() = default;

const char* DescribedFailure::what() const noexcept {
    if (const char* cached = CachedText())
        return cached;
    char* text =
        m_text->empty() ? nullptr : ToAnsiLocal(m_text->c_str(), static_cast<int>(m_text->size()), 1);
    if (!text)
        return SystemText();
    CacheText(text);
    return text;
}

const std::wstring& DescribedFailure::Text() const noexcept {
    return *m_text;
}

bool IsSharingError(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// ---------------------------------------------------------------- raising

void SetRaiseReporter(const RaiseReporter* reporter) noexcept {
    g_raiseReporter = reporter;
}

bool GetSystemErrorText(DWORD error, std::wstring& text) {
    UniqueLocalMemory buffer;
    const DWORD length = FormatSystemMessage(error, buffer);
    if (length)
        text.assign(static_cast<const wchar_t*>(buffer.get()), length);
    else
        text.clear();
    return length != 0;
}

std::wstring SystemErrorReason(DWORD error) {
    std::wstring text;
    GetSystemErrorText(error, text);
    TrimLineEnds(text);
    return text;
}

void ThrowWinException(DWORD error, const wchar_t* location) {
    std::wstring description;
    GetSystemErrorText(error, description);
    LogRaisedError(location, description, &error);
    throw WinException(error);
}

void ThrowFileHoldFailure(const std::wstring& path, DWORD error, const wchar_t* location) {
    std::wstring description;
    GetSystemErrorText(error, description);
    LogRaisedError(location, description, &error);
    throw FileHoldFailure(error, DescribeRaise(IDS_FILE_NOT_HELD, path, description, std::wstring()));
}

void ThrowTransformFailure(DWORD error, const std::wstring& transform, const std::wstring& package,
                           DWORD cause, const wchar_t* location) {
    std::wstring description;
    GetSystemErrorText(cause, description);
    LogRaisedError(location, description, &cause);
    TrimLineEnds(description);
    throw TransformFailure(error, DescribeRaise(IDS_TRANSFORM_NOT_USABLE, transform, package, description));
}

void ThrowMSIException(MSIHANDLE record, DWORD error, const wchar_t*) {
    throw MSIException(error, record);
}

void ThrowIosFailure(const std::ios_base::failure& failure, const wchar_t* location) {
    LogRaisedError(location, failure.what());
    throw StreamFailure(failure.what(), failure.code());
}

void ThrowBadAlloc(const std::bad_alloc& failure, const wchar_t* location) {
    LogRaisedError(location, failure.what());
    throw BadAllocCopy(failure);
}

void ThrowRuntimeError(const std::runtime_error& failure) {
    LogRaisedError(L" Fnc : DisplayHelp; Line : 120; ", failure.what());
    throw failure;
}
