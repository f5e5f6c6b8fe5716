#include "support/transform_writer.h"

#include "msi/database.h"
#include "support/package_builder.h"
#include "support/test_env.h"

#include <gtest/gtest.h>
#include <msi.h>
#include <msiquery.h>
#include <objbase.h>
#include <objidl.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace qztest {
namespace {

using Rows = std::vector<std::pair<std::wstring, std::wstring>>;

template <class Interface> class ScopedCom {
public:
    ScopedCom() = default;
    ScopedCom(const ScopedCom&) = delete;
    ScopedCom& operator=(const ScopedCom&) = delete;
    ~ScopedCom() {
        if (m_pointer)
            m_pointer->Release();
    }
    Interface* get() const { return m_pointer; }
    Interface* operator->() const { return m_pointer; }
    Interface** put() { return &m_pointer; }

private:
    Interface* m_pointer = nullptr;
};

std::wstring RecordText(MSIHANDLE record, UINT field) {
    DWORD size = 0;
    wchar_t empty[1] = L"";
    UINT r = MsiRecordGetStringW(record, field, empty, &size);
    if (r != ERROR_MORE_DATA && r != ERROR_SUCCESS)
        throw std::runtime_error("MsiRecordGetStringW failed");
    std::wstring text(size + 1, L'\0');
    size += 1;
    if (MsiRecordGetStringW(record, field, &text[0], &size) != ERROR_SUCCESS)
        throw std::runtime_error("MsiRecordGetStringW failed");
    text.resize(size);
    return text;
}

// Runs a query and gives every row's first `fields` fields as text.
std::vector<std::vector<std::wstring>> Select(MSIHANDLE database, const wchar_t* query, UINT fields) {
    MsiHandle view;
    EXPECT_EQ(0u, MsiDatabaseOpenViewW(database, query, view.put())) << ToUtf8(query);
    EXPECT_EQ(0u, MsiViewExecute(view.get(), 0));
    std::vector<std::vector<std::wstring>> rows;
    MsiHandle record;
    while (MsiViewFetch(view.get(), record.put()) == ERROR_SUCCESS) {
        std::vector<std::wstring> row;
        for (UINT field = 1; field <= fields; ++field)
            row.push_back(RecordText(record.get(), field));
        rows.push_back(row);
    }
    MsiViewClose(view.get());
    return rows;
}

void Execute(MSIHANDLE database, const wchar_t* query) {
    MsiHandle view;
    ASSERT_EQ(0u, MsiDatabaseOpenViewW(database, query, view.put())) << ToUtf8(query);
    ASSERT_EQ(0u, MsiViewExecute(view.get(), 0)) << ToUtf8(query);
    MsiViewClose(view.get());
}

// What the installer lists for a transform against a database with an empty Property
// table: (Table, Column, Row, Data) for each change.
std::vector<std::vector<std::wstring>> TransformViewRows(const std::wstring& transform, const TempDir& dir) {
    const std::wstring scratch = dir / L"scratch.msi";
    DeleteFileW(scratch.c_str());
    {
        MsiHandle db;
        EXPECT_EQ(0u, MsiOpenDatabaseW(scratch.c_str(), MSIDBOPEN_CREATE, db.put()));
        Execute(db.get(), L"CREATE TABLE Property(Property CHAR(72) NOT NULL, Value CHAR(255) NOT NULL "
                          L"LOCALIZABLE PRIMARY KEY Property)");
        EXPECT_EQ(0u, MsiDatabaseCommit(db.get()));
    }
    MsiHandle db;
    EXPECT_EQ(0u, MsiOpenDatabaseW(scratch.c_str(), MSIDBOPEN_DIRECT, db.put()));
    EXPECT_EQ(0u, MsiDatabaseApplyTransformW(db.get(), transform.c_str(), 0x110));
    return Select(db.get(), L"SELECT `Table`, `Column`, `Row`, `Data` FROM `_TransformView`", 4);
}

// The Value the transform view gives to `name`, and how many rows name it.
std::pair<std::wstring, int> ViewedValue(const std::vector<std::vector<std::wstring>>& rows,
                                         const std::wstring& name) {
    std::pair<std::wstring, int> found{L"", 0};
    for (const auto& row : rows) {
        if (row[0] == L"Property" && row[1] == L"Value" && row[2] == name) {
            found.first = row[3];
            ++found.second;
        }
    }
    return found;
}

std::wstring PropertyValue(MSIHANDLE database, const std::wstring& name) {
    const std::wstring query = L"SELECT `Value` FROM `Property` WHERE `Property` = '" + name + L"'";
    const auto rows = Select(database, query.c_str(), 1);
    return rows.empty() ? L"<missing>" : rows[0][0];
}

// Reads one stream of a compound file as bytes.
std::string StreamBytes(IStorage* storage, const std::wstring& name) {
    ScopedCom<IStream> stream;
    if (FAILED(storage->OpenStream(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.put())))
        return "<missing>";
    std::string bytes;
    char buffer[512];
    ULONG read = 0;
    while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &read)) && read > 0)
        bytes.append(buffer, read);
    return bytes;
}

TEST(TransformWriter, ChangesAreListedInTheTransformView) {
    struct Case {
        const char* name;
        TransformSpec desc;
    };
    TransformSpec french;
    french.updateProperties = {{L"ProductLanguage", L"1036"}, {L"ProductName", L"Produit fran\u00e7ais"}};
    TransformSpec inserted;
    inserted.insertProperties = {{L"QZ_NEW_PROPERTY", L"added by a transform"}};
    TransformSpec mixed;
    mixed.updateProperties = {{L"ProductLanguage", L"1031"}, {L"Manufacturer", L"1031"}, {L"EMPTIED", L""}};
    mixed.insertProperties = {{L"ARPCOMMENTS", L"Gr\u00fc\u00dfe"}, {L"ALSO_1031", L"1031"}};
    TransformSpec cyrillic;
    cyrillic.codepage = 1251;
    cyrillic.updateProperties = {{L"ProductName", L"\u041f\u0440\u043e\u0434\u0443\u043a\u0442"}};
    TransformSpec utf8;
    utf8.codepage = CP_UTF8;
    utf8.updateProperties = {{L"ProductName", L"\u88fd\u54c1 fran\u00e7ais"}};
    const Case cases[] = {{"language and non-ASCII name", french},
                          {"insert of a new property", inserted},
                          {"updates, inserts, shared strings and an empty value", mixed},
                          {"codepage 1251", cyrillic},
                          {"codepage 65001", utf8}};

    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = dir / L"change.mst";
        WriteTransform(c.desc, path);
        const auto rows = TransformViewRows(path, dir);
        Rows expected = c.desc.updateProperties;
        expected.insert(expected.end(), c.desc.insertProperties.begin(), c.desc.insertProperties.end());
        for (const auto& property : expected) {
            SCOPED_TRACE(ToUtf8(property.first));
            const auto viewed = ViewedValue(rows, property.first);
            EXPECT_EQ(1, viewed.second);
            EXPECT_EQ(ToUtf8(property.second), ToUtf8(viewed.first));
        }
        for (const auto& row : rows)
            EXPECT_EQ(L"Property", row[0]) << ToUtf8(row[1]) << " " << ToUtf8(row[2]);
    }
}

TEST(TransformWriter, LanguageTransformSetsProductLanguageAndTheExtraProperties) {
    TempDir dir;
    const std::wstring path = dir / L"fr.mst";
    WriteLanguageTransform(path, 1036, {{L"ProductName", L"Produit fran\u00e7ais"}});
    const auto rows = TransformViewRows(path, dir);
    EXPECT_EQ(L"1036", ViewedValue(rows, L"ProductLanguage").first);
    EXPECT_EQ(ToUtf8(L"Produit fran\u00e7ais"), ToUtf8(ViewedValue(rows, L"ProductName").first));
}

TEST(TransformWriter, FileLayout) {
    TempDir dir;
    const std::wstring path = dir / L"layout.mst";
    WriteLanguageTransform(path, 1036, {{L"A", L"x"}, {L"B", L"x"}});

    ScopedCom<IStorage> storage;
    ASSERT_EQ(S_OK, StgOpenStorage(path.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                   storage.put()));
    STATSTG stat{};
    ASSERT_EQ(S_OK, storage->Stat(&stat, STATFLAG_NONAME));
    const CLSID transformClass = {0x000C1082, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    EXPECT_TRUE(IsEqualCLSID(transformClass, stat.clsid));

    // String ids from 1 in order of first use: ProductLanguage, 1036, A, x (used twice), B.
    const std::string pool("\xE4\x04\x00\x00"
                           "\x0F\x00\x01\x00"
                           "\x04\x00\x01\x00"
                           "\x01\x00\x01\x00"
                           "\x01\x00\x02\x00"
                           "\x01\x00\x01\x00",
                           24);
    EXPECT_EQ(pool, StreamBytes(storage.get(), L"\x4840\x3F3F\x4577\x446C\x3E6A\x44B2\x482F"));
    EXPECT_EQ("ProductLanguage1036AxB",
              StreamBytes(storage.get(), L"\x4840\x3F3F\x4577\x446C\x3B6A\x45E4\x4824"));
    // One record per row: the mask 0x0002 (key and Value), then the key's and the value's ids.
    const std::string property("\x02\x00\x01\x00\x02\x00"
                               "\x02\x00\x03\x00\x04\x00"
                               "\x02\x00\x05\x00\x04\x00",
                               18);
    EXPECT_EQ(property, StreamBytes(storage.get(), L"\x4840\x4559\x44F2\x4568\x4737"));

    ScopedCom<IPropertySetStorage> sets;
    ASSERT_EQ(S_OK, storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(sets.put())));
    ScopedCom<IPropertyStorage> summary;
    ASSERT_EQ(S_OK, sets->Open(FMTID_SummaryInformation, STGM_READ | STGM_SHARE_EXCLUSIVE, summary.put()));
    PROPSPEC which[2] = {{PRSPEC_PROPID, {PIDSI_LASTAUTHOR}}, {PRSPEC_PROPID, {PIDSI_CHARCOUNT}}};
    PROPVARIANT values[2];
    ASSERT_EQ(S_OK, summary->ReadMultiple(2, which, values));
    EXPECT_EQ(VT_LPSTR, values[0].vt);
    if (values[0].vt == VT_LPSTR) {
        EXPECT_STREQ(";1036", values[0].pszVal);
    }
    EXPECT_EQ(VT_I4, values[1].vt);
    EXPECT_EQ(0, values[1].lVal);
    FreePropVariantArray(2, values);
}

TEST(TransformWriter, RefusesWhatItCannotWriteFaithfully) {
    struct Case {
        const char* name;
        Rows update;
        Rows insert;
        UINT codepage;
    };
    const Case cases[] = {
        {"property without a name", {{L"", L"1036"}}, {}, 1252},
        {"same property twice", {{L"ProductName", L"a"}}, {{L"ProductName", L"b"}}, 1252},
        {"character outside the codepage", {{L"ProductName", L"\u65e5\u672c"}}, {}, 1252},
        {"string too long for the pool", {{L"ProductName", std::wstring(70000, L'x')}}, {}, 1252},
    };
    TempDir dir;
    const std::wstring existing = dir / L"existing.mst";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteLanguageTransform(existing, 1033);
        const std::string before = ReadFileBytes(existing);
        TransformSpec desc;
        desc.updateProperties = c.update;
        desc.insertProperties = c.insert;
        desc.codepage = c.codepage;
        EXPECT_THROW(WriteTransform(desc, dir / L"refused.mst"), std::runtime_error);
        EXPECT_FALSE(PathExists(dir / L"refused.mst"));
        // A refused transform does not damage the file it would have replaced.
        EXPECT_THROW(WriteTransform(desc, existing), std::runtime_error);
        EXPECT_EQ(before, ReadFileBytes(existing));
    }
    EXPECT_THROW(WriteLanguageTransform(dir / L"no such folder\\x.mst", 1036), std::runtime_error);
}

TEST(TransformWriter, AppliesToAPackage) {
    TempDir dir;
    PackageSpec base;
    base.productName = L"QZ Transform Base";
    base.properties = {{L"QZ_UNTOUCHED", L"kept"}};
    const std::wstring package = dir / L"base.msi";
    BuildPackage(base, package);

    TransformSpec desc;
    desc.updateProperties = {{L"ProductLanguage", L"1036"}, {L"ProductName", L"Produit fran\u00e7ais"}};
    desc.insertProperties = {{L"QZ_ADDED", L"ajout\u00e9"}};
    const std::wstring transform = dir / L"fr.mst";
    WriteTransform(desc, transform);

    {
        MsiHandle db;
        ASSERT_EQ(0u, MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_TRANSACT, db.put()));
        ASSERT_EQ(0u, MsiDatabaseApplyTransformW(db.get(), transform.c_str(), 0));
        ASSERT_EQ(0u, MsiDatabaseCommit(db.get()));
    }
    MsiHandle db;
    ASSERT_EQ(0u, MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, db.put()));
    const std::map<std::wstring, std::wstring> expected = {{L"ProductLanguage", L"1036"},
                                                           {L"ProductName", L"Produit fran\u00e7ais"},
                                                           {L"QZ_ADDED", L"ajout\u00e9"},
                                                           {L"QZ_UNTOUCHED", L"kept"},
                                                           {L"Manufacturer", base.manufacturer}};
    for (const auto& property : expected) {
        SCOPED_TRACE(ToUtf8(property.first));
        EXPECT_EQ(ToUtf8(property.second), ToUtf8(PropertyValue(db.get(), property.first)));
    }
}

// Puts the installer's own user interface away for one test and brings it back.
class SilentInstallerUi {
public:
    SilentInstallerUi() : m_previous(MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr)) {}
    SilentInstallerUi(const SilentInstallerUi&) = delete;
    SilentInstallerUi& operator=(const SilentInstallerUi&) = delete;
    ~SilentInstallerUi() { MsiSetInternalUI(m_previous, nullptr); }

private:
    INSTALLUILEVEL m_previous;
};

// Removes an installed product when the test ends, however it ends.
class InstalledProduct {
public:
    explicit InstalledProduct(std::wstring productCode) : m_productCode(std::move(productCode)) {}
    InstalledProduct(const InstalledProduct&) = delete;
    InstalledProduct& operator=(const InstalledProduct&) = delete;
    ~InstalledProduct() { RemoveProduct(m_productCode); }

private:
    std::wstring m_productCode;
};

TEST(TransformWriter, ReachesARealInstallation) {
    TempDir dir;
    PackageSpec base;
    base.productName = L"QZ Transform Install";
    base.installFolder = L"QZ Transform Install";
    base.productCode = NewGuid();
    const std::wstring package = dir / L"install.msi";
    BuildPackage(base, package);
    const std::wstring transform = dir / L"fr.mst";
    WriteLanguageTransform(transform, 1036, {{L"ProductName", L"Produit fran\u00e7ais"}});

    SilentInstallerUi silent;
    InstalledProduct cleanup(base.productCode);
    const std::wstring properties = L"TRANSFORMS=\"" + transform + L"\" REBOOT=ReallySuppress";
    ASSERT_EQ(0u, MsiInstallProductW(package.c_str(), properties.c_str()));
    // The installer goes on untransformed when it cannot use a transform: the registered
    // product shows whether it did.
    EXPECT_EQ(ToUtf8(L"Produit fran\u00e7ais"),
              ToUtf8(ProductInfo(base.productCode, INSTALLPROPERTY_INSTALLEDPRODUCTNAME)));
    EXPECT_EQ("1036", ToUtf8(ProductInfo(base.productCode, INSTALLPROPERTY_LANGUAGE)));
}

} // namespace
} // namespace qztest
