#include "msi/database.h"

#include <cwchar>

#include "system/errors.h"
#include "system/smart_buffer.h"
#include "system/msi_api.h"

using QZ::MSInstaller::Msi;

// ---------------------------------------------------------------- MsiHandle

MsiHandle& MsiHandle::operator=(MsiHandle&& other) noexcept {
    if (this != &other) {
        reset();
        m_handle = other.m_handle;
        other.m_handle = 0;
    }
    return *this;
}

MSIHANDLE* MsiHandle::put() {
    reset();
    return &m_handle;
}

void MsiHandle::reset() noexcept {
    if (m_handle) {
        // A handle exists only if the installer library was loaded to make it.
        Msi().CloseHandle(m_handle);
        m_handle = 0;
    }
}

MSIHANDLE MsiHandle::release() noexcept {
    const MSIHANDLE handle = m_handle;
    m_handle = 0;
    return handle;
}

namespace MsiSQL {

// ---------------------------------------------------------------- SQLParam

namespace {

wchar_t* CopyText(const wchar_t* text, std::size_t length) {
    wchar_t* copy = new wchar_t[length + 1];
    std::wmemcpy(copy, text, length);
    copy[length] = L'\0';
    return copy;
}

} // namespace

SQLParam::SQLParam(int value) : lengthOrValue(value), kind(0) {}

SQLParam::SQLParam(const std::wstring& value)
    : text(CopyText(value.c_str(), value.size())), lengthOrValue(static_cast<int>(value.size())), kind(1) {}

SQLParam::SQLParam(const wchar_t* value) : SQLParam(std::wstring(value ? value : L"")) {}

SQLParam::SQLParam(const SQLParam& other)
    : text(other.kind != 0 && other.text ? CopyText(other.text, static_cast<std::size_t>(other.lengthOrValue))
                                         : nullptr),
      lengthOrValue(other.lengthOrValue), kind(other.kind) {}

SQLParam::~SQLParam() {
    delete[] text;
}

// ---------------------------------------------------------------- SQLView

MSIHANDLE SQLView::Create(MSIHANDLE database, const wchar_t* query) {
    MSIHANDLE view = 0;
    const UINT result = Msi().DatabaseOpenViewW(database, query, &view);
    if (result != ERROR_SUCCESS)
        ThrowMSIException(Msi().GetLastErrorRecord(), result, L" Fnc : MsiSQL::SQLView::Create; Line : 50; ");
    return view;
}

SQLView::SQLView(MSIHANDLE view, bool owns) : m_owns(owns), m_view(view) {}

// The members then close the parameter record and the row record, in that order.
SQLView::~SQLView() {
    if (m_owns && m_view)
        Msi().CloseHandle(m_view);
}

void SQLView::Execute(const SQLParam* params, unsigned count) {
    const auto& msi = Msi();
    if (params) {
        // Without parameters the earlier record stays and supplies the values again.
        *m_params.put() = msi.CreateRecord(count);
        for (unsigned i = 0; i < count; ++i) {
            const SQLParam& param = params[i];
            const UINT result = param.kind == 0
                                    ? msi.RecordSetInteger(m_params.get(), i + 1, param.lengthOrValue)
                                    : msi.RecordSetStringW(m_params.get(), i + 1, param.text);
            if (result != ERROR_SUCCESS)
                ThrowWinException(result, L" Fnc : MsiSQL::SQLView::Execute; Line : 78; ");
        }
    }
    // Closing first lets a view that ran before run again from its first row.
    UINT result = msi.ViewClose(m_view);
    if (result != ERROR_SUCCESS)
        ThrowWinException(result, L" Fnc : MsiSQL::SQLView::Execute; Line : 85; ");
    result = msi.ViewExecute(m_view, m_params.get());
    if (result != ERROR_SUCCESS)
        ThrowMSIException(msi.GetLastErrorRecord(), result, L" Fnc : MsiSQL::SQLView::Execute; Line : 90; ");
}

bool SQLView::FetchNext() {
    const UINT result = Msi().ViewFetch(m_view, m_row.put());
    if (result == ERROR_SUCCESS)
        return true;
    if (result == ERROR_NO_MORE_ITEMS)
        return false;
    ThrowWinException(result, L" Fnc : MsiSQL::SQLView::FetchNext; Line : 18; ");
}

void SQLView::GetValue(unsigned field, std::wstring& value) {
    const auto& msi = Msi();
    const UINT length = msi.RecordDataSize(m_row.get(), field);
    smart_buffer<wchar_t, 100> buffer(length + 1);
    DWORD size = length + 1;
    UINT result = msi.RecordGetStringW(m_row.get(), field, buffer.data(), &size);
    if (result == ERROR_MORE_DATA) {
        // An integer field reports the size of its number, not the length of
        // its text: take the room the record asks for and read again.
        buffer.resize(size + 1);
        size += 1;
        result = msi.RecordGetStringW(m_row.get(), field, buffer.data(), &size);
    }
    if (result != ERROR_SUCCESS)
        ThrowWinException(result, L" Fnc : MsiSQL::SQLView::GetValue; Line : 128; ");
    // On success `size` holds the length of the text that was copied.
    value.assign(buffer.data(), size);
}

void SQLView::GetValue(unsigned field, int& value) {
    value = Msi().RecordGetInteger(m_row.get(), field);
    if (static_cast<unsigned>(value) == MSI_NULL_INTEGER)
        ThrowWinException(ERROR_BAD_FORMAT, L" Fnc : MsiSQL::SQLView::GetValue; Line : 139; ");
}

} // namespace MsiSQL
