// A custom action for test packages: it reports one installer error and
// fails the installation. The package tells it what to report through
// private properties:
//   QzFailError     the Error number (field 1 of the error record)
//   QzFailArgCount  how many arguments follow
//   QzFailArg1..n   the arguments (fields 2..n+1); an absent property is an empty text
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <cwchar>
#include <string>

namespace {

// Owner of one installer handle.
class RecordHandle {
public:
    explicit RecordHandle(MSIHANDLE handle) : m_handle(handle) {}
    RecordHandle(const RecordHandle&) = delete;
    RecordHandle& operator=(const RecordHandle&) = delete;
    ~RecordHandle() {
        if (m_handle != 0)
            MsiCloseHandle(m_handle);
    }
    MSIHANDLE get() const { return m_handle; }

private:
    MSIHANDLE m_handle;
};

std::wstring ReadProperty(MSIHANDLE install, const std::wstring& name) {
    DWORD length = 0;
    wchar_t empty[1] = L"";
    UINT result = MsiGetPropertyW(install, name.c_str(), empty, &length);
    if (result != ERROR_MORE_DATA)
        return std::wstring();
    std::wstring value(length + 1, L'\0');
    length = static_cast<DWORD>(value.size());
    result = MsiGetPropertyW(install, name.c_str(), &value[0], &length);
    if (result != ERROR_SUCCESS)
        return std::wstring();
    value.resize(length);
    return value;
}

int ReadNumber(MSIHANDLE install, const wchar_t* name) {
    const std::wstring text = ReadProperty(install, name);
    return static_cast<int>(std::wcstol(text.c_str(), nullptr, 10));
}

void ReportError(MSIHANDLE install) {
    const int error = ReadNumber(install, L"QzFailError");
    int count = ReadNumber(install, L"QzFailArgCount");
    if (count < 0)
        count = 0;
    RecordHandle record(MsiCreateRecord(static_cast<UINT>(count) + 1));
    if (record.get() == 0)
        return;
    MsiRecordSetInteger(record.get(), 1, error);
    for (int i = 1; i <= count; ++i) {
        const std::wstring value = ReadProperty(install, L"QzFailArg" + std::to_wstring(i));
        MsiRecordSetStringW(record.get(), static_cast<UINT>(i) + 1, value.c_str());
    }
    MsiProcessMessage(install, INSTALLMESSAGE_ERROR, record.get());
}

} // namespace

extern "C" __declspec(dllexport) UINT __stdcall FailInstall(MSIHANDLE install) {
    try {
        ReportError(install);
    } catch (...) {
        // Nothing may leave the installer's callback; the installation fails either way.
    }
    return ERROR_INSTALL_FAILURE;
}
