#include "support/patch_writer.h"

#include "msi/database.h"
#include "support/package_builder.h"
#include "support/test_env.h"
#include "support/transform_writer.h"

#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>
#include <objbase.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// A patch is an installer database of its own (the patch class id) holding:
//  - two transforms as sub-storages: "targetToupgraded" makes the changes
//    (Property values, the sizes of changed files) and "#targetToupgraded"
//    points the installer at the patch's media (the changed files marked as
//    added by a patch, with their own sequence numbers, and a Media row for
//    the patch's cabinet);
//  - the cabinet with the changed files, in _Streams;
//  - MsiPatchMetadata (removable) and MsiPatchSequence;
//  - summary information: Template = the target product codes, Last Saved By
//    = the transforms, Revision Number = the patch code.
// Each transform's summary names the product and versions it goes from and
// to, and asks for the language and product to be checked: the installer
// applies it only to that product.

namespace qztest {
namespace {

const wchar_t kTransformName[] = L"targetToupgraded";
const wchar_t kMediaTransformName[] = L"#targetToupgraded";
const wchar_t kPatchCabinet[] = L"qzpatch.cab";
const wchar_t kPatchSourceProperty[] = L"QzPatchSource";
const int kPatchAddedAttribute = 0x1000; // msidbFileAttributesPatchAdded
// Patch databases are opened with this flag added to the open mode: the SDK's
// MSIDBOPEN_PATCHFILE, which its header defines in TCHAR units (16 for the wide
// function); Wine's wide function knows the narrow value (32) only.
const UINT_PTR kOpenPatchFileFlags[] = {32 / sizeof(wchar_t), 32};
// Validate the language and the product (the installer reads them from the
// low word of the transform's Character Count).
const unsigned kValidateLanguageAndProduct = 0x0007;

void Check(UINT result, const std::string& what) {
    if (result != ERROR_SUCCESS)
        throw std::runtime_error("patch writer: " + what + " failed with " + std::to_string(result));
}

std::wstring RecordText(MSIHANDLE record, UINT field) {
    DWORD size = 0;
    wchar_t empty[1] = L"";
    const UINT r = MsiRecordGetStringW(record, field, empty, &size);
    if (r != ERROR_MORE_DATA && r != ERROR_SUCCESS)
        Check(r, "MsiRecordGetStringW");
    std::wstring text(size + 1, L'\0');
    size += 1;
    Check(MsiRecordGetStringW(record, field, &text[0], &size), "MsiRecordGetStringW");
    text.resize(size);
    return text;
}

std::string RecordStream(MSIHANDLE record, UINT field) {
    std::string bytes;
    char buffer[4096];
    for (;;) {
        DWORD size = sizeof buffer;
        Check(MsiRecordReadStream(record, field, buffer, &size), "MsiRecordReadStream");
        if (size == 0)
            break;
        bytes.append(buffer, size);
    }
    return bytes;
}

// What the patch compares of one package.
struct PackageTables {
    std::map<std::wstring, std::wstring> properties;
    struct File {
        int attributes = 0;
        int sequence = 0;
        std::string content;
    };
    std::map<std::wstring, File> files;
    int lastSequence = 0;
    int lastDiskId = 0;
    std::wstring productCode, productVersion, upgradeCode, language;
};

// The files of a cabinet with stored data blocks (the package builder's).
std::map<std::string, std::string> ReadStoredCabinet(const std::string& cab) {
    auto u16 = [&](size_t at) {
        if (at + 2 > cab.size())
            throw std::runtime_error("patch writer: cabinet cut short");
        return static_cast<unsigned>(static_cast<unsigned char>(cab[at]) |
                                     static_cast<unsigned char>(cab[at + 1]) << 8);
    };
    auto u32 = [&](size_t at) { return static_cast<uint32_t>(u16(at) | u16(at + 2) << 16); };
    if (cab.compare(0, 4, "MSCF") != 0 || u16(26) != 1 || u16(36 + 6) != 0)
        throw std::runtime_error("patch writer: not a cabinet of one stored folder");
    std::string data;
    size_t block = u32(36);
    for (unsigned i = 0, blocks = u16(36 + 4); i < blocks; ++i) {
        const unsigned length = u16(block + 4);
        if (block + 8 + length > cab.size())
            throw std::runtime_error("patch writer: cabinet cut short");
        data.append(cab, block + 8, length);
        block += 8 + length;
    }
    std::map<std::string, std::string> files;
    size_t entry = u32(16);
    for (unsigned i = 0, count = u16(28); i < count; ++i) {
        const uint32_t size = u32(entry), offset = u32(entry + 4);
        const size_t nameEnd = cab.find('\0', entry + 16);
        if (nameEnd == std::string::npos || offset + size > data.size())
            throw std::runtime_error("patch writer: bad cabinet entry");
        files[cab.substr(entry + 16, nameEnd - entry - 16)] = data.substr(offset, size);
        entry = nameEnd + 1;
    }
    return files;
}

PackageTables ReadPackage(const std::wstring& path) {
    MsiHandle database;
    Check(MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, database.put()), "opening " + ToUtf8(path));
    PackageTables tables;
    auto select = [&](const wchar_t* query, auto&& row) {
        MsiHandle view;
        Check(MsiDatabaseOpenViewW(database.get(), query, view.put()), "opening " + ToUtf8(query));
        Check(MsiViewExecute(view.get(), 0), "executing " + ToUtf8(query));
        MsiHandle record;
        while (MsiViewFetch(view.get(), record.put()) == ERROR_SUCCESS)
            row(record.get());
    };
    select(L"SELECT `Property`, `Value` FROM `Property`",
           [&](MSIHANDLE r) { tables.properties[RecordText(r, 1)] = RecordText(r, 2); });
    std::map<std::string, std::string> cabinet;
    select(L"SELECT `DiskId`, `LastSequence`, `Cabinet` FROM `Media`", [&](MSIHANDLE r) {
        tables.lastDiskId = std::max(tables.lastDiskId, MsiRecordGetInteger(r, 1));
        tables.lastSequence = std::max(tables.lastSequence, MsiRecordGetInteger(r, 2));
        const std::wstring name = RecordText(r, 3);
        if (name.size() < 2 || name[0] != L'#')
            throw std::runtime_error("patch writer: the package's files are not in its own cabinet");
        MsiHandle view;
        const std::wstring query = L"SELECT `Data` FROM `_Streams` WHERE `Name` = '" + name.substr(1) + L"'";
        Check(MsiDatabaseOpenViewW(database.get(), query.c_str(), view.put()), "opening the cabinet");
        Check(MsiViewExecute(view.get(), 0), "reading the cabinet");
        MsiHandle stream;
        Check(MsiViewFetch(view.get(), stream.put()), "fetching the cabinet");
        for (auto& file : ReadStoredCabinet(RecordStream(stream.get(), 1)))
            cabinet.insert(std::move(file));
    });
    select(L"SELECT `File`, `Attributes`, `Sequence` FROM `File`", [&](MSIHANDLE r) {
        PackageTables::File file;
        const std::wstring key = RecordText(r, 1);
        file.attributes = MsiRecordIsNull(r, 2) ? 0 : MsiRecordGetInteger(r, 2);
        file.sequence = MsiRecordGetInteger(r, 3);
        const auto content = cabinet.find(ToUtf8(key));
        if (content == cabinet.end())
            throw std::runtime_error("patch writer: no content for file " + ToUtf8(key));
        file.content = content->second;
        tables.files[key] = std::move(file);
    });
    tables.productCode = tables.properties[L"ProductCode"];
    tables.productVersion = tables.properties[L"ProductVersion"];
    tables.upgradeCode = tables.properties[L"UpgradeCode"];
    tables.language = tables.properties[L"ProductLanguage"];
    return tables;
}

TransformValue Text(const std::wstring& text) {
    return TransformValue{TransformValue::Text, text, 0};
}
TransformValue Short(int number) {
    return TransformValue{TransformValue::Short, std::wstring(), number};
}
TransformValue Long(int number) {
    return TransformValue{TransformValue::Long, std::wstring(), number};
}
TransformValue Null() {
    return TransformValue{};
}

TransformRow Update(unsigned column, std::vector<TransformValue> values) {
    TransformRow row;
    row.updatedColumns = column;
    row.values = std::move(values);
    return row;
}

void Execute(MSIHANDLE database, const std::wstring& query, MSIHANDLE record = 0) {
    MsiHandle view;
    Check(MsiDatabaseOpenViewW(database, query.c_str(), view.put()), "opening " + ToUtf8(query));
    Check(MsiViewExecute(view.get(), record), "executing " + ToUtf8(query));
}

// Inserts a row of texts, or of a text and a stream read from `streamFile`.
void InsertRow(MSIHANDLE database, const std::wstring& query, const std::vector<std::wstring>& texts,
               const std::wstring& streamFile = std::wstring()) {
    MsiHandle record(MsiCreateRecord(static_cast<UINT>(texts.size() + (streamFile.empty() ? 0 : 1))));
    for (UINT i = 0; i < texts.size(); ++i)
        Check(MsiRecordSetStringW(record.get(), i + 1, texts[i].c_str()), "MsiRecordSetStringW");
    if (!streamFile.empty())
        Check(MsiRecordSetStreamW(record.get(), static_cast<UINT>(texts.size() + 1), streamFile.c_str()),
              "MsiRecordSetStreamW");
    Execute(database, query, record.get());
}

} // namespace

PatchResult WritePatch(const std::wstring& target, const std::wstring& upgraded, const std::wstring& path,
                       const std::wstring& patchCode) {
    const PackageTables from = ReadPackage(target);
    const PackageTables to = ReadPackage(upgraded);
    if (from.productCode.empty() || from.productCode != to.productCode)
        throw std::runtime_error("patch writer: the two packages are not of one product");
    PatchResult result{patchCode.empty() ? NewGuid() : patchCode, from.productCode};

    TransformSpec changes;
    TransformDetails changeDetails;
    TransformSpec media;
    TransformDetails mediaDetails;
    for (const auto& property : to.properties) {
        const auto before = from.properties.find(property.first);
        if (before == from.properties.end())
            changes.insertProperties.push_back(property);
        else if (before->second != property.second)
            changes.updateProperties.push_back(property);
    }
    for (const auto& property : from.properties)
        if (!to.properties.count(property.first))
            throw std::runtime_error("patch writer: a property taken out cannot be patched here");

    TransformTable fileSizes{L"File", {}};
    TransformTable fileMedia{L"File", {}};
    std::vector<std::pair<std::string, std::string>> carried;
    for (const auto& file : to.files) {
        const auto before = from.files.find(file.first);
        if (before == from.files.end())
            throw std::runtime_error("patch writer: a file added cannot be patched here");
        if (before->second.content == file.second.content)
            continue;
        const int sequence = from.lastSequence + static_cast<int>(carried.size()) + 1;
        // File: FileSize is column 4, Attributes 7, Sequence 8.
        fileSizes.rows.push_back(
            Update(1u << 3, {Text(file.first), Long(static_cast<int>(file.second.content.size()))}));
        fileMedia.rows.push_back(Update(
            (1u << 6) | (1u << 7),
            {Text(file.first), Short(before->second.attributes | kPatchAddedAttribute), Short(sequence)}));
        carried.emplace_back(ToUtf8(file.first), file.second.content);
    }
    if (changes.updateProperties.empty() && changes.insertProperties.empty() && carried.empty())
        throw std::runtime_error("patch writer: the packages do not differ");
    if (!carried.empty()) {
        changeDetails.tables.push_back(fileSizes);
        mediaDetails.tables.push_back(fileMedia);
        TransformRow disk;
        disk.insert = true;
        disk.columnCount = 6; // DiskId, LastSequence, DiskPrompt, Cabinet, VolumeLabel, Source
        disk.values = {Short(from.lastDiskId + 1),
                       Short(from.lastSequence + static_cast<int>(carried.size())),
                       Null(),
                       Text(std::wstring(L"#") + kPatchCabinet),
                       Null(),
                       Text(kPatchSourceProperty)};
        mediaDetails.tables.push_back(TransformTable{L"Media", {disk}});
    }
    for (TransformDetails* transform : {&changeDetails, &mediaDetails}) {
        transform->summaryTemplate = L";" + from.language;
        transform->summaryRevision = from.productCode + from.productVersion + L";" + to.productCode +
                                     to.productVersion + L";" + from.upgradeCode;
        transform->validationFlags = kValidateLanguageAndProduct;
    }

    ScratchFile changesFile(path + L".t1.tmp");
    ScratchFile mediaFile(path + L".t2.tmp");
    ScratchFile cabinetFile(path + L".cab.tmp");
    WriteTransform(changes, changesFile.path(), changeDetails);
    WriteTransform(media, mediaFile.path(), mediaDetails);
    if (!carried.empty())
        WriteFileBytes(cabinetFile.path(), BuildStoredCabinet(carried));

    DeleteFileW(path.c_str());
    bool complete = false;
    {
        // Declared before the database, so the database is closed before a partial patch is removed.
        struct Remover {
            const std::wstring& path;
            const bool& complete;
            ~Remover() {
                if (!complete)
                    DeleteFileW(path.c_str());
            }
        } remover{path, complete};
        MsiHandle database;
        UINT opened = ERROR_INVALID_PARAMETER;
        for (const UINT_PTR flag : kOpenPatchFileFlags) {
            opened = MsiOpenDatabaseW(
                path.c_str(), reinterpret_cast<LPCWSTR>(reinterpret_cast<UINT_PTR>(MSIDBOPEN_CREATE) + flag),
                database.put());
            if (opened != ERROR_INVALID_PARAMETER)
                break;
        }
        Check(opened, "creating the patch " + ToUtf8(path));
        const MSIHANDLE db = database.get();
        Execute(db, L"CREATE TABLE `MsiPatchMetadata` (`Company` CHAR(72), `Property` CHAR(72) NOT NULL, "
                    L"`Value` LONGCHAR NOT NULL PRIMARY KEY `Company`, `Property`)");
        InsertRow(db, L"INSERT INTO `MsiPatchMetadata` (`Property`, `Value`) VALUES (?, ?)",
                  {L"AllowRemoval", L"1"});
        InsertRow(db, L"INSERT INTO `MsiPatchMetadata` (`Property`, `Value`) VALUES (?, ?)",
                  {L"DisplayName", L"QZ test patch " + to.productVersion});
        Execute(db, L"CREATE TABLE `MsiPatchSequence` (`PatchFamily` CHAR(72) NOT NULL, `ProductCode` "
                    L"CHAR(38), `Sequence` CHAR(72) NOT NULL, `Attributes` LONG PRIMARY KEY `PatchFamily`, "
                    L"`ProductCode`)");
        InsertRow(
            db, L"INSERT INTO `MsiPatchSequence` (`PatchFamily`, `ProductCode`, `Sequence`) VALUES (?, ?, ?)",
            {L"QzTestPatch", from.productCode, to.productVersion});
        InsertRow(db, L"INSERT INTO `_Storages` (`Name`, `Data`) VALUES (?, ?)", {kTransformName},
                  changesFile.path());
        InsertRow(db, L"INSERT INTO `_Storages` (`Name`, `Data`) VALUES (?, ?)", {kMediaTransformName},
                  mediaFile.path());
        if (!carried.empty())
            InsertRow(db, L"INSERT INTO `_Streams` (`Name`, `Data`) VALUES (?, ?)", {kPatchCabinet},
                      cabinetFile.path());

        MsiHandle summary;
        Check(MsiGetSummaryInformationW(db, nullptr, 20, summary.put()), "MsiGetSummaryInformationW");
        struct TextProperty {
            UINT id;
            std::wstring value;
        };
        const TextProperty texts[] = {
            {PID_TITLE, L"Patch"},
            {PID_SUBJECT, L"QZ test patch"},
            {PID_AUTHOR, L"QZ Tests"},
            {PID_KEYWORDS, kPatchSourceProperty},
            {PID_TEMPLATE, from.productCode},
            {PID_LASTAUTHOR, std::wstring(L":") + kTransformName + L";:" + kMediaTransformName},
            {PID_REVNUMBER, result.patchCode},
        };
        for (const TextProperty& text : texts)
            Check(
                MsiSummaryInfoSetPropertyW(summary.get(), text.id, VT_LPSTR, 0, nullptr, text.value.c_str()),
                "setting summary property " + std::to_string(text.id));
        Check(MsiSummaryInfoSetPropertyW(summary.get(), PID_WORDCOUNT, VT_I4, 1, nullptr, nullptr),
              "setting the patch type");
        Check(MsiSummaryInfoPersist(summary.get()), "MsiSummaryInfoPersist");
        summary.reset();
        Check(MsiDatabaseCommit(db), "MsiDatabaseCommit");
        complete = true;
    }
    return result;
}

// The patch codes the installer lists as applied to a product.
std::vector<std::wstring> AppliedPatches(const std::wstring& productCode) {
    std::vector<std::wstring> patches;
    for (DWORD index = 0;; ++index) {
        wchar_t patch[39];
        wchar_t target[39];
        MSIINSTALLCONTEXT context;
        if (MsiEnumPatchesExW(productCode.c_str(), nullptr, MSIINSTALLCONTEXT_ALL, MSIPATCHSTATE_APPLIED,
                              index, patch, target, &context, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        patches.push_back(patch);
    }
    return patches;
}

} // namespace qztest
