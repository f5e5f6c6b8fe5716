// Installer handles and SQL views on installer databases.
#pragma once
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>

// Owner of one installer handle; closes it on every path.
class MsiHandle {
public:
    MsiHandle() = default;
    explicit MsiHandle(MSIHANDLE handle) : m_handle(handle) {}
    MsiHandle(MsiHandle&& other) noexcept : m_handle(other.m_handle) { other.m_handle = 0; }
    MsiHandle& operator=(MsiHandle&& other) noexcept;
    MsiHandle(const MsiHandle&) = delete;
    MsiHandle& operator=(const MsiHandle&) = delete;
    ~MsiHandle() { reset(); }

    MSIHANDLE get() const { return m_handle; }
    // Closes the current handle and yields the place for a new one.
    MSIHANDLE* put();
    void reset() noexcept;
    MSIHANDLE release() noexcept;

private:
    MSIHANDLE m_handle = 0;
};

namespace MsiSQL {

// One query parameter: an integer or an owned copy of a text.
struct SQLParam {
    SQLParam(int value);
    SQLParam(const std::wstring& text);
    SQLParam(const wchar_t* text);
    SQLParam(const SQLParam& other);
    SQLParam& operator=(const SQLParam&) = delete;
    ~SQLParam();

    wchar_t* text = nullptr;
    int lengthOrValue = 0;
    int kind = 0; // 0 integer, 1 text
};

class SQLView {
public:
    // MsiDatabaseOpenViewW; raises an MSIException on failure.
    static MSIHANDLE Create(MSIHANDLE database, const wchar_t* query);

    SQLView(MSIHANDLE view, bool owns);
    SQLView(const SQLView&) = delete;
    SQLView& operator=(const SQLView&) = delete;
    ~SQLView();

    void Execute(const SQLParam* params = nullptr, unsigned count = 0);
    bool FetchNext();
    void GetValue(unsigned field, int& value);
    void GetValue(unsigned field, std::wstring& value);

private:
    bool m_owns;
    MSIHANDLE m_view;
    MsiHandle m_row;
    MsiHandle m_params;
};

} // namespace MsiSQL
