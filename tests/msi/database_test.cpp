// SQL views on a real installer database made with msi.dll at test time.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "msi/database.h"
#include "support/test_env.h"

namespace {

using MsiSQL::SQLParam;
using MsiSQL::SQLView;

const std::wstring k99(99, L'n');
const std::wstring k100(100, L'h');
const std::wstring k300 = std::wstring(150, L'a') + std::wstring(150, L'\x00e9');

struct ItemRow {
    int id;
    std::wstring name;
    int number; // MSI_NULL_INTEGER: left null
};

const ItemRow kItems[] = {
    {1, L"alpha", 10}, {2, L"", static_cast<int>(MSI_NULL_INTEGER)}, {3, k99, 3}, {4, k100, 4},
    {5, k300, 123456},
};

// A scratch database with one table, Items(Id, Name, Num), filled with kItems.
// Tear-down checks that the test left no installer handle open.
class ViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring path = m_dir / L"view.msi";
        ASSERT_EQ(0u, MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_CREATE, m_db.put()));
        Run(L"CREATE TABLE Items (Id SHORT NOT NULL, Name CHAR(0), Num LONG PRIMARY KEY Id)", 0);
        for (const ItemRow& item : kItems) {
            MsiHandle record(MsiCreateRecord(3));
            MsiRecordSetInteger(record.get(), 1, item.id);
            MsiRecordSetStringW(record.get(), 2, item.name.c_str());
            MsiRecordSetInteger(record.get(), 3, item.number);
            Run(L"INSERT INTO Items (Id, Name, Num) VALUES (?, ?, ?)", record.get());
        }
        ASSERT_EQ(0u, MsiDatabaseCommit(m_db.get()));
    }

    void TearDown() override {
        m_db.reset();
        EXPECT_EQ(0u, MsiCloseAllHandles()) << "installer handles left open";
    }

    void Run(const wchar_t* query, MSIHANDLE params) {
        MsiHandle view;
        ASSERT_EQ(0u, MsiDatabaseOpenViewW(m_db.get(), query, view.put())) << ToNarrow(query);
        ASSERT_EQ(0u, MsiViewExecute(view.get(), params)) << ToNarrow(query);
    }

    static std::string ToNarrow(const std::wstring& text) { return qztest::ToUtf8(text); }

    qztest::TempDir m_dir;
    MsiHandle m_db;
};

// Runs `body`, expecting a WinException with `error`; returns what the raise
// wrote to the log streams.
template <class Body> std::wstring ExpectWinException(DWORD error, Body body) {
    std::wstringbuf log;
    LogStreamCapture capture(log);
    try {
        body();
        ADD_FAILURE() << "no exception";
    } catch (const MSIException& e) {
        ADD_FAILURE() << "MSIException " << e.GetError() << " instead of WinException " << error;
    } catch (const WinException& e) {
        EXPECT_EQ(error, e.GetError());
    }
    return log.str();
}

bool Contains(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

TEST_F(ViewTest, ExecuteWithoutParametersRunsAgainWithTheEarlierValues) {
    SQLView view(SQLView::Create(m_db.get(), L"SELECT Name, Id FROM Items WHERE Id=? OR Name=?"), true);
    const SQLParam params[] = {SQLParam(3), SQLParam(L"alpha")};
    view.Execute(params, 2);

    std::wstring name;
    int id = 0;
    std::vector<int> first, again;
    while (view.FetchNext()) {
        view.GetValue(2, id);
        first.push_back(id);
    }
    EXPECT_EQ((std::vector<int>{1, 3}), first);

    // Read half of the rows, then run again without parameters: the rows
    // restart and the same two match.
    view.Execute();
    ASSERT_TRUE(view.FetchNext());
    view.Execute();
    while (view.FetchNext()) {
        view.GetValue(2, id);
        again.push_back(id);
    }
    EXPECT_EQ(first, again);

    // New parameters replace the old record.
    const SQLParam other[] = {SQLParam(4), SQLParam(std::wstring(L"none"))};
    view.Execute(other, 2);
    ASSERT_TRUE(view.FetchNext());
    view.GetValue(1, name);
    EXPECT_EQ(k100, name);
    EXPECT_FALSE(view.FetchNext());
}

TEST_F(ViewTest, TextFieldsOfEveryLengthAreReadWhole) {
    SQLView view(SQLView::Create(m_db.get(), L"SELECT Name FROM Items WHERE Id=?"), true);
    for (const ItemRow& item : kItems) {
        SCOPED_TRACE(testing::Message() << "Id " << item.id << ", length " << item.name.size());
        const SQLParam param(item.id);
        view.Execute(&param, 1);
        ASSERT_TRUE(view.FetchNext());
        std::wstring value = L"previous";
        view.GetValue(1, value);
        EXPECT_EQ(item.name, value);
        EXPECT_FALSE(view.FetchNext());
    }
}

TEST_F(ViewTest, IntegerFieldsReadAsTextGiveTheirDigits) {
    SQLView view(SQLView::Create(m_db.get(), L"SELECT Num, Id FROM Items WHERE Id=?"), true);
    const struct {
        int id;
        const wchar_t* text;
    } cases[] = {{1, L"10"}, {3, L"3"}, {5, L"123456"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "Id " << c.id);
        const SQLParam param(c.id);
        view.Execute(&param, 1);
        ASSERT_TRUE(view.FetchNext());
        std::wstring value;
        view.GetValue(1, value);
        EXPECT_EQ(c.text, value);
    }
}

TEST_F(ViewTest, IntegerFieldsAndTheNullInteger) {
    SQLView view(SQLView::Create(m_db.get(), L"SELECT Num FROM Items WHERE Id=?"), true);
    const SQLParam one(1);
    view.Execute(&one, 1);
    ASSERT_TRUE(view.FetchNext());
    int value = 0;
    view.GetValue(1, value);
    EXPECT_EQ(10, value);

    const SQLParam two(2);
    view.Execute(&two, 1);
    ASSERT_TRUE(view.FetchNext());
    value = 0;
    const std::wstring log = ExpectWinException(ERROR_BAD_FORMAT, [&] { view.GetValue(1, value); });
    EXPECT_EQ(static_cast<int>(MSI_NULL_INTEGER), value);
    EXPECT_TRUE(Contains(log, L" Fnc : MsiSQL::SQLView::GetValue; Line : 139; ")) << ToNarrow(log);
    EXPECT_TRUE(Contains(log, L"QZSETUP:BOOTSTRAP:ERR:11:")) << ToNarrow(log);
}

TEST_F(ViewTest, NoRowsAndReadingWithoutACurrentRow) {
    SQLView view(SQLView::Create(m_db.get(), L"SELECT Name FROM Items WHERE Id=?"), true);
    std::wstring value = L"kept";
    // Never fetched.
    const SQLParam one(1);
    view.Execute(&one, 1);
    std::wstring log = ExpectWinException(ERROR_INVALID_HANDLE, [&] { view.GetValue(1, value); });
    EXPECT_TRUE(Contains(log, L" Fnc : MsiSQL::SQLView::GetValue; Line : 128; ")) << ToNarrow(log);

    // Fetched past the end of the rows.
    const SQLParam missing(42);
    view.Execute(&missing, 1);
    EXPECT_FALSE(view.FetchNext());
    EXPECT_FALSE(view.FetchNext());
    log = ExpectWinException(ERROR_INVALID_HANDLE, [&] { view.GetValue(1, value); });
    EXPECT_TRUE(Contains(log, L" Fnc : MsiSQL::SQLView::GetValue; Line : 128; ")) << ToNarrow(log);
    EXPECT_EQ(L"kept", value);
}

TEST_F(ViewTest, FailingQueriesRaiseInstallerExceptionsWithoutLogging) {
    const wchar_t* badQueries[] = {
        L"SELEKT Name FROM Items",
        L"SELECT Name FROM Missing",
        L"SELECT Nothing FROM Items",
    };
    for (const wchar_t* query : badQueries) {
        SCOPED_TRACE(ToNarrow(query));
        std::wstringbuf log;
        LogStreamCapture capture(log);
        try {
            SQLView view(SQLView::Create(m_db.get(), query), true);
            ADD_FAILURE() << "the view was created";
        } catch (const MSIException& e) {
            EXPECT_NE(0u, e.GetError());
            EXPECT_NE(nullptr, e.what());
        }
        EXPECT_EQ(L"", log.str());
    }

    // Opens fine, fails when run: a second row with an existing key.
    SQLView insert(SQLView::Create(m_db.get(), L"INSERT INTO Items (Id, Name, Num) VALUES (?, ?, ?)"), true);
    const SQLParam row[] = {SQLParam(1), SQLParam(L"duplicate"), SQLParam(7)};
    std::wstringbuf log;
    LogStreamCapture capture(log);
    try {
        insert.Execute(row, 3);
        ADD_FAILURE() << "the duplicate row was inserted";
    } catch (const MSIException& e) {
        EXPECT_NE(0u, e.GetError());
    }
    EXPECT_EQ(L"", log.str());
}

TEST_F(ViewTest, CreateTableThroughAView) {
    {
        SQLView view(
            SQLView::Create(m_db.get(), L"CREATE TABLE Extra (Tag CHAR(72) NOT NULL PRIMARY KEY Tag)"), true);
        view.Execute();
    }
    SQLView view(SQLView::Create(m_db.get(), L"SELECT Tag FROM Extra"), true);
    view.Execute();
    EXPECT_FALSE(view.FetchNext());
}

TEST(SQLParamTest, TextIsAnOwnedCopy) {
    std::wstring text = L"ProductLanguage";
    SQLParam param(text);
    text[0] = L'X';
    ASSERT_NE(nullptr, param.text);
    EXPECT_EQ(1, param.kind);
    EXPECT_EQ(15, param.lengthOrValue);
    EXPECT_EQ(std::wstring(L"ProductLanguage"), param.text);

    const SQLParam copy(param);
    EXPECT_NE(param.text, copy.text);
    EXPECT_EQ(std::wstring(L"ProductLanguage"), copy.text);

    const SQLParam number(-5);
    EXPECT_EQ(0, number.kind);
    EXPECT_EQ(-5, number.lengthOrValue);
    EXPECT_EQ(nullptr, number.text);
}

} // namespace
