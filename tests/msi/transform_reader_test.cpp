// Property values read out of real transforms through a scratch database.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "msi/database.h"
#include "msi/transform_reader.h"
#include "support/test_env.h"
#include "support/transform_writer.h"

namespace {

// Names of everything directly in the user's temporary directory.
std::set<std::wstring> TempListing() {
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    EXPECT_GT(length, 0u);
    std::set<std::wstring> names;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((std::wstring(temp, length) + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        names.insert(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

std::string Describe(const std::set<std::wstring>& names) {
    std::string text;
    for (const auto& name : names)
        text += " " + qztest::ToUtf8(name);
    return text;
}

// Every call must leave the temporary directory as it found it and close
// every installer handle, whether it returned or raised.
class TransformReaderTest : public ::testing::Test {
protected:
    void SetUp() override { m_before = TempListing(); }

    void TearDown() override {
        const std::set<std::wstring> after = TempListing();
        std::set<std::wstring> added, removed;
        for (const auto& name : after)
            if (!m_before.count(name))
                added.insert(name);
        for (const auto& name : m_before)
            if (!after.count(name))
                removed.insert(name);
        EXPECT_TRUE(added.empty()) << "left in the temporary directory:" << Describe(added);
        EXPECT_TRUE(removed.empty()) << "removed from the temporary directory:" << Describe(removed);
        EXPECT_EQ(0u, MsiCloseAllHandles()) << "installer handles left open";
    }

    qztest::TempDir m_dir; // made before the first listing
    std::set<std::wstring> m_before;
};

TEST_F(TransformReaderTest, LanguageTransformsGiveTheirLanguage) {
    const unsigned languages[] = {1031, 1036, 1041, 2052};
    for (unsigned language : languages) {
        SCOPED_TRACE(language);
        const std::wstring path = m_dir / (std::to_wstring(language) + L".mst");
        qztest::WriteLanguageTransform(path, language, {{L"ProductName", L"Produit"}});
        std::wstring value = L"previous";
        EXPECT_EQ(1, _GetTranPropVal(path, L"ProductLanguage", value));
        EXPECT_EQ(std::to_wstring(language), value);
        value = L"previous";
        EXPECT_EQ(1, _GetTranPropVal(path, L"ProductName", value));
        EXPECT_EQ(L"Produit", value);
    }
}

TEST_F(TransformReaderTest, ValuesOfTheTransformRows) {
    const std::wstring longValue = std::wstring(120, L'x') + L"\x00e9\x00fc";
    struct Case {
        const char* what;
        qztest::TransformSpec desc;
        const wchar_t* property;
        int result;
        std::wstring value; // expected output ("untouched" when not set)
    };
    const Case cases[] = {
        {"other property only",
         {{{L"ProductName", L"Other"}}, {}, 1252},
         L"ProductLanguage",
         0,
         L"untouched"},
        {"inserted row", {{}, {{L"ProductLanguage", L"1049"}}, 1252}, L"ProductLanguage", 1, L"1049"},
        {"empty value", {{{L"ProductLanguage", L""}}, {}, 1252}, L"ProductLanguage", 1, L""},
        {"long value", {{{L"Comment", longValue}}, {}, 1252}, L"Comment", 1, longValue},
        {"name differs in case",
         {{{L"ProductLanguage", L"1031"}}, {}, 1252},
         L"productlanguage",
         0,
         L"untouched"},
        {"name is a prefix", {{{L"ProductLanguage", L"1031"}}, {}, 1252}, L"Product", 0, L"untouched"},
        {"no changes at all", {{}, {}, 1252}, L"ProductLanguage", 0, L"untouched"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring path = m_dir / (L"case" + std::to_wstring(++n) + L".mst");
        qztest::WriteTransform(c.desc, path);
        std::wstring value = L"untouched";
        EXPECT_EQ(c.result, _GetTranPropVal(path, c.property, value));
        EXPECT_EQ(c.value, value);
    }
}

TEST_F(TransformReaderTest, FilesThatAreNoTransformRaiseTheApplyFailure) {
    const std::wstring text = m_dir / L"notes.mst";
    qztest::WriteFileBytes(text, "ProductLanguage=1031\r\n");
    const std::wstring empty = m_dir / L"empty.mst";
    qztest::WriteFileBytes(empty, "");
    const std::wstring missing = m_dir / L"missing.mst";
    // A database is a structured storage too, but of another class.
    const std::wstring package = m_dir / L"package.msi";
    {
        MsiHandle db;
        ASSERT_EQ(0u, MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_CREATE, db.put()));
        ASSERT_EQ(0u, MsiDatabaseCommit(db.get()));
    }

    for (const std::wstring& path : {text, empty, missing, package, m_dir.path()}) {
        SCOPED_TRACE(qztest::ToUtf8(path));
        std::wstringbuf log;
        LogStreamCapture capture(log);
        std::wstring value = L"untouched";
        try {
            _GetTranPropVal(path, L"ProductLanguage", value);
            ADD_FAILURE() << "no exception";
        } catch (const MSIException& e) {
            EXPECT_NE(0u, e.GetError());
        }
        EXPECT_EQ(L"untouched", value);
        EXPECT_EQ(L"", log.str());
    }
}

TEST_F(TransformReaderTest, EmptyDatabaseHasTheTablesOfItsQuery) {
    {
        TmpFile scratch;
        TmpFile& same =
            _GetEmptyDB(scratch, L"CREATE TABLE Property(Property CHAR(72) NOT NULL, Value CHAR(255) "
                                 L"NOT NULL LOCALIZABLE PRIMARY KEY Property)");
        EXPECT_EQ(&scratch, &same);
        ASSERT_TRUE(scratch);
        EXPECT_TRUE(qztest::PathExists(scratch.name()));

        // The file is a committed database that another handle can open and query.
        MsiHandle db;
        ASSERT_EQ(0u, MsiOpenDatabaseW(scratch.name(), MSIDBOPEN_READONLY, db.put()));
        EXPECT_EQ(MSICONDITION_TRUE, MsiDatabaseIsTablePersistentW(db.get(), L"Property"));
        EXPECT_EQ(MSICONDITION_NONE, MsiDatabaseIsTablePersistentW(db.get(), L"File"));
    }
    {
        TmpFile bare;
        _GetEmptyDB(bare, nullptr);
        ASSERT_TRUE(bare);
        MsiHandle db;
        ASSERT_EQ(0u, MsiOpenDatabaseW(bare.name(), MSIDBOPEN_READONLY, db.put()));
        EXPECT_EQ(MSICONDITION_NONE, MsiDatabaseIsTablePersistentW(db.get(), L"Property"));
    }
    // A failing query leaves neither the file nor a handle behind.
    TmpFile failed;
    EXPECT_THROW(_GetEmptyDB(failed, L"CREATE TABLE Broken("), MSIException);
    EXPECT_FALSE(failed);
}

} // namespace
