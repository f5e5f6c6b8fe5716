#include "support/package_builder.h"

#include "support/test_env.h"

#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>
#include <objbase.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace qztest {
namespace {

// Owner of one installer handle (database, view, record, summary information).
class InstallerHandle {
public:
    InstallerHandle() = default;
    explicit InstallerHandle(MSIHANDLE handle) : m_handle(handle) {}
    InstallerHandle(const InstallerHandle&) = delete;
    InstallerHandle& operator=(const InstallerHandle&) = delete;
    ~InstallerHandle() { reset(); }

    MSIHANDLE get() const { return m_handle; }
    MSIHANDLE* put() {
        reset();
        return &m_handle;
    }
    void reset() {
        if (m_handle != 0)
            MsiCloseHandle(m_handle);
        m_handle = 0;
    }

private:
    MSIHANDLE m_handle = 0;
};

// Quiet installer user interface for clean-up: no internal UI (the previous level
// comes back afterwards) and no external handler, whose context may already be
// gone when a test cleans up. The external handler is not restored: the installer
// gives back the previous handler but not its filter and context.
class QuietInstallerUi {
public:
    QuietInstallerUi() : m_level(MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr)) {
        MsiSetExternalUIW(nullptr, 0, nullptr);
    }
    QuietInstallerUi(const QuietInstallerUi&) = delete;
    QuietInstallerUi& operator=(const QuietInstallerUi&) = delete;
    ~QuietInstallerUi() { MsiSetInternalUI(m_level, nullptr); }

private:
    INSTALLUILEVEL m_level;
};

std::string Narrow(const std::wstring& text) {
    return ToUtf8(text);
}

// The installer's own description of its last error, when it has one.
std::string LastErrorText() {
    InstallerHandle record(MsiGetLastErrorRecord());
    if (record.get() == 0)
        return std::string();
    DWORD length = 0;
    wchar_t empty[1] = L"";
    if (MsiFormatRecordW(0, record.get(), empty, &length) != ERROR_MORE_DATA)
        return std::string();
    std::wstring text(length + 1, L'\0');
    length = static_cast<DWORD>(text.size());
    if (MsiFormatRecordW(0, record.get(), &text[0], &length) != ERROR_SUCCESS)
        return std::string();
    text.resize(length);
    return " (" + Narrow(text) + ")";
}

void Check(UINT result, const std::string& what) {
    if (result != ERROR_SUCCESS)
        throw std::runtime_error("package builder: " + what + " failed with " + std::to_string(result) +
                                 LastErrorText());
}

// One value of a row: text, integer, null or a stream read from a file.
struct Field {
    enum Kind { Text, Number, Null, StreamFile } kind;
    std::wstring text;
    int number = 0;
};

Field T(const std::wstring& text) {
    return Field{Field::Text, text, 0};
}
Field N(int number) {
    return Field{Field::Number, std::wstring(), number};
}
Field Null() {
    return Field{Field::Null, std::wstring(), 0};
}
Field Stream(const std::wstring& path) {
    return Field{Field::StreamFile, path, 0};
}

void Execute(MSIHANDLE database, const std::wstring& query, const std::vector<Field>& fields = {}) {
    InstallerHandle view;
    Check(MsiDatabaseOpenViewW(database, query.c_str(), view.put()), "opening the query " + Narrow(query));
    InstallerHandle record;
    if (!fields.empty()) {
        *record.put() = MsiCreateRecord(static_cast<UINT>(fields.size()));
        if (record.get() == 0)
            throw std::runtime_error("package builder: MsiCreateRecord failed");
        for (UINT i = 0; i < fields.size(); ++i) {
            const Field& field = fields[i];
            UINT result = ERROR_SUCCESS;
            switch (field.kind) {
            case Field::Text:
                result = MsiRecordSetStringW(record.get(), i + 1, field.text.c_str());
                break;
            case Field::Number:
                result = MsiRecordSetInteger(record.get(), i + 1, field.number);
                break;
            case Field::Null:
                result = MsiRecordSetStringW(record.get(), i + 1, L"");
                break;
            case Field::StreamFile:
                result = MsiRecordSetStreamW(record.get(), i + 1, field.text.c_str());
                break;
            }
            Check(result, "setting field " + std::to_string(i + 1) + " for " + Narrow(query));
        }
    }
    Check(MsiViewExecute(view.get(), record.get()), "executing " + Narrow(query));
    Check(MsiViewClose(view.get()), "closing " + Narrow(query));
}

void Insert(MSIHANDLE database, const std::wstring& table, const std::vector<std::wstring>& columns,
            const std::vector<Field>& fields) {
    std::wstring query = L"INSERT INTO `" + table + L"` (";
    std::wstring marks;
    for (size_t i = 0; i < columns.size(); ++i) {
        query += (i ? L", `" : L"`") + columns[i] + L"`";
        marks += i ? L", ?" : L"?";
    }
    query += L") VALUES (" + marks + L")";
    Execute(database, query, fields);
}

// The tables a package needs, in the installer's standard column layout.
const wchar_t* const kTables[] = {
    L"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL LOCALIZABLE "
    L"PRIMARY KEY `Property`)",
    L"CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), "
    L"`DefaultDir` CHAR(255) NOT NULL LOCALIZABLE PRIMARY KEY `Directory`)",
    L"CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` CHAR(64) "
    L"LOCALIZABLE, `Description` CHAR(255) LOCALIZABLE, `Display` SHORT, `Level` SHORT NOT NULL, "
    L"`Directory_` CHAR(72), `Attributes` SHORT NOT NULL PRIMARY KEY `Feature`)",
    L"CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), `Directory_` "
    L"CHAR(72) NOT NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) "
    L"PRIMARY KEY `Component`)",
    L"CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL "
    L"PRIMARY KEY `Feature_`, `Component_`)",
    L"CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `FileName` "
    L"CHAR(255) NOT NULL LOCALIZABLE, `FileSize` LONG NOT NULL, `Version` CHAR(72), `Language` "
    L"CHAR(20), `Attributes` SHORT, `Sequence` SHORT NOT NULL PRIMARY KEY `File`)",
    L"CREATE TABLE `Media` (`DiskId` SHORT NOT NULL, `LastSequence` SHORT NOT NULL, `DiskPrompt` "
    L"CHAR(64) LOCALIZABLE, `Cabinet` CHAR(255), `VolumeLabel` CHAR(32), `Source` CHAR(72) "
    L"PRIMARY KEY `DiskId`)",
    L"CREATE TABLE `InstallExecuteSequence` (`Action` CHAR(72) NOT NULL, `Condition` CHAR(255), "
    L"`Sequence` SHORT PRIMARY KEY `Action`)",
    L"CREATE TABLE `InstallUISequence` (`Action` CHAR(72) NOT NULL, `Condition` CHAR(255), "
    L"`Sequence` SHORT PRIMARY KEY `Action`)",
};

const wchar_t* const kErrorTable = L"CREATE TABLE `Error` (`Error` SHORT NOT NULL, `Message` LONGCHAR "
                                   L"LOCALIZABLE PRIMARY KEY `Error`)";
const wchar_t* const kBinaryTable =
    L"CREATE TABLE `Binary` (`Name` CHAR(72) NOT NULL, `Data` OBJECT NOT NULL PRIMARY KEY `Name`)";
const wchar_t* const kCustomActionTable =
    L"CREATE TABLE `CustomAction` (`Action` CHAR(72) NOT NULL, `Type` SHORT NOT NULL, `Source` "
    L"CHAR(72), `Target` CHAR(255) PRIMARY KEY `Action`)";

struct SequenceEntry {
    const wchar_t* action;
    int sequence;
};

const SequenceEntry kExecuteSequence[] = {
    {L"CostInitialize", 800},     {L"FileCost", 900},           {L"CostFinalize", 1000},
    {L"InstallValidate", 1400},   {L"InstallInitialize", 1500}, {L"ProcessComponents", 1600},
    {L"UnpublishFeatures", 1800}, {L"RemoveFiles", 3500},       {L"InstallFiles", 4000},
    {L"RegisterUser", 6000},      {L"RegisterProduct", 6100},   {L"PublishFeatures", 6300},
    {L"PublishProduct", 6400},    {L"InstallFinalize", 6600},
};

const SequenceEntry kUiSequence[] = {
    {L"CostInitialize", 800},
    {L"FileCost", 900},
    {L"CostFinalize", 1000},
    {L"ExecuteAction", 1300},
};

const wchar_t* const kFailAction = L"QzFailInstall";
const int kFailActionSequence = 1550; // inside the installation transaction
const wchar_t* const kFailDllName = L"qz-failing-action.dll";
const wchar_t* const kCabinetStream = L"qzfiles.cab";

// ---------------------------------------------------------------- cabinet

void PutU16(std::string& out, unsigned value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void PutU32(std::string& out, std::uint32_t value) {
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}

void SetU32(std::string& out, size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

struct CabinetEntry {
    std::string name; // the File table key
    const std::string* content;
};

// A cabinet with one folder of stored (not compressed) data blocks.
std::string BuildCabinet(const std::vector<CabinetEntry>& entries) {
    const size_t kBlock = 32768;
    std::string data;
    for (const CabinetEntry& entry : entries)
        data += *entry.content;
    const size_t blocks = (data.size() + kBlock - 1) / kBlock;
    if (entries.size() > 0xFFFF || blocks > 0xFFFF)
        throw std::runtime_error("package builder: too many files or too much data for one cabinet");

    std::string cab = "MSCF";
    PutU32(cab, 0);
    const size_t sizeField = cab.size();
    PutU32(cab, 0); // cabinet size, set at the end
    PutU32(cab, 0);
    const size_t filesOffsetField = cab.size();
    PutU32(cab, 0); // offset of the first file entry
    PutU32(cab, 0);
    cab += static_cast<char>(3); // version 1.3
    cab += static_cast<char>(1);
    PutU16(cab, 1); // folders
    PutU16(cab, static_cast<unsigned>(entries.size()));
    PutU16(cab, 0); // flags
    PutU16(cab, 0); // set id
    PutU16(cab, 0); // cabinet number

    const size_t dataOffsetField = cab.size();
    PutU32(cab, 0); // offset of the first data block
    PutU16(cab, static_cast<unsigned>(blocks));
    PutU16(cab, 0); // stored

    SetU32(cab, filesOffsetField, static_cast<std::uint32_t>(cab.size()));
    std::uint32_t folderOffset = 0;
    for (const CabinetEntry& entry : entries) {
        PutU32(cab, static_cast<std::uint32_t>(entry.content->size()));
        PutU32(cab, folderOffset);
        PutU16(cab, 0);                                   // folder
        PutU16(cab, ((2024 - 1980) << 9) | (1 << 5) | 1); // 2024-01-01
        PutU16(cab, 0);                                   // 00:00:00
        PutU16(cab, 0x20);                                // archive
        cab += entry.name;
        cab += '\0';
        folderOffset += static_cast<std::uint32_t>(entry.content->size());
    }

    SetU32(cab, dataOffsetField, static_cast<std::uint32_t>(cab.size()));
    for (size_t start = 0; start < data.size(); start += kBlock) {
        const size_t length = std::min(kBlock, data.size() - start);
        PutU32(cab, 0); // no checksum
        PutU16(cab, static_cast<unsigned>(length));
        PutU16(cab, static_cast<unsigned>(length));
        cab.append(data, start, length);
    }
    SetU32(cab, sizeField, static_cast<std::uint32_t>(cab.size()));
    return cab;
}

// ---------------------------------------------------------------- package

std::vector<std::wstring> SplitFolder(const std::wstring& folder) {
    std::vector<std::wstring> parts;
    std::wstring part;
    for (wchar_t c : folder + L"\\") {
        if (c == L'\\' || c == L'/') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (parts.empty())
        throw std::runtime_error("package builder: the install folder is empty");
    return parts;
}

void SetSummary(MSIHANDLE database, const PackageSpec& desc, const std::wstring& packageCode) {
    InstallerHandle summary;
    Check(MsiGetSummaryInformationW(database, nullptr, 20, summary.put()), "MsiGetSummaryInformationW");
    const std::wstring templateText =
        desc.templateText.empty() ? desc.platform + L";" + std::to_wstring(desc.language) : desc.templateText;
    struct TextProperty {
        UINT id;
        std::wstring value;
    };
    const TextProperty texts[] = {
        {PID_TITLE, L"Installation Database"}, {PID_SUBJECT, desc.productName},
        {PID_AUTHOR, desc.manufacturer},       {PID_TEMPLATE, templateText},
        {PID_REVNUMBER, packageCode},          {PID_APPNAME, L"qz test package builder"},
    };
    for (const TextProperty& text : texts)
        Check(MsiSummaryInfoSetPropertyW(summary.get(), text.id, VT_LPSTR, 0, nullptr, text.value.c_str()),
              "setting summary property " + std::to_string(text.id));
    // Schema 200 (needed for x64 packages); stored long file names in a cabinet.
    Check(MsiSummaryInfoSetPropertyW(summary.get(), PID_PAGECOUNT, VT_I4, 200, nullptr, nullptr),
          "setting the schema");
    Check(MsiSummaryInfoSetPropertyW(summary.get(), PID_WORDCOUNT, VT_I4, 2, nullptr, nullptr),
          "setting the source type");
    Check(MsiSummaryInfoPersist(summary.get()), "MsiSummaryInfoPersist");
}

// Fixes the database code page so that non-ASCII texts do not depend on the
// code page of the process that builds or reads the package.
void ForceCodepage(MSIHANDLE database, const std::wstring& scratchDir) {
    const std::wstring name = L"_ForceCodepage.idt";
    ScratchFile idt(scratchDir + name);
    WriteFileBytes(idt.path(), "\r\n\r\n1252\t_ForceCodepage\r\n");
    Check(MsiDatabaseImportW(database, scratchDir.c_str(), name.c_str()), "setting the code page");
}

std::wstring DirectoryOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".\\") : path.substr(0, slash + 1);
}

std::wstring FullPath(const std::wstring& path) {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, buffer, nullptr);
    if (length == 0 || length >= MAX_PATH)
        throw std::runtime_error("package builder: bad package path " + Narrow(path));
    return std::wstring(buffer, length);
}

std::wstring QueryProductInfo(const std::wstring& productCode, const wchar_t* property, UINT& result) {
    DWORD length = 0;
    wchar_t empty[1] = L"";
    result = MsiGetProductInfoW(productCode.c_str(), property, empty, &length);
    if (result != ERROR_MORE_DATA)
        return std::wstring();
    std::wstring value(length + 1, L'\0');
    length = static_cast<DWORD>(value.size());
    result = MsiGetProductInfoW(productCode.c_str(), property, &value[0], &length);
    if (result != ERROR_SUCCESS)
        return std::wstring();
    value.resize(length);
    return value;
}

std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    return std::wstring(buffer, length);
}

} // namespace

void BuildPackage(const PackageSpec& desc, const std::wstring& path) {
    const std::wstring packagePath = FullPath(path);
    const std::wstring directory = DirectoryOf(packagePath);
    const std::wstring productCode = desc.productCode.empty() ? NewGuid() : desc.productCode;
    const std::wstring packageCode = desc.packageCode.empty() ? NewGuid() : desc.packageCode;
    const std::wstring upgradeCode = desc.upgradeCode.empty() ? NewGuid() : desc.upgradeCode;
    const bool x64 = desc.platform == L"x64";
    if (desc.files.empty())
        throw std::runtime_error("package builder: a package needs at least one file");

    std::wstring dllPath;
    if (desc.failWithError != 0) {
        dllPath = BinDir() + kFailDllName;
        if (GetFileAttributesW(dllPath.c_str()) == INVALID_FILE_ATTRIBUTES)
            throw std::runtime_error("package builder: the custom-action DLL is missing: " + Narrow(dllPath));
    }

    // The scratch files outlive the database handle: the installer may read a
    // stream's file only when the database is committed.
    ScratchFile cabinet(packagePath + L".cab.tmp");
    DeleteFileW(packagePath.c_str());
    InstallerHandle database;
    Check(MsiOpenDatabaseW(packagePath.c_str(), MSIDBOPEN_CREATE, database.put()),
          "creating the package " + Narrow(packagePath));
    const MSIHANDLE db = database.get();
    ForceCodepage(db, directory);

    for (const wchar_t* table : kTables)
        Execute(db, table);
    if (desc.errorTable) {
        Execute(db, kErrorTable);
        for (const auto& error : desc.errors)
            Insert(db, L"Error", {L"Error", L"Message"}, {N(error.first), T(error.second)});
    }

    // Properties: the built-in ones first; an extra property of the same name replaces one.
    std::vector<std::pair<std::wstring, std::wstring>> properties = {
        {L"ProductName", desc.productName},
        {L"ProductCode", productCode},
        {L"ProductVersion", desc.version},
        {L"ProductLanguage", std::to_wstring(desc.language)},
        {L"Manufacturer", desc.manufacturer},
        {L"UpgradeCode", upgradeCode},
        {L"ALLUSERS", L"1"},
    };
    if (desc.failWithError != 0) {
        properties.emplace_back(L"QzFailError", std::to_wstring(desc.failWithError));
        properties.emplace_back(L"QzFailArgCount", std::to_wstring(desc.failArguments.size()));
        for (size_t i = 0; i < desc.failArguments.size(); ++i)
            if (!desc.failArguments[i].empty())
                properties.emplace_back(L"QzFailArg" + std::to_wstring(i + 1), desc.failArguments[i]);
    }
    for (const auto& extra : desc.properties) {
        bool replaced = false;
        for (auto& property : properties)
            if (property.first == extra.first) {
                property.second = extra.second;
                replaced = true;
            }
        if (!replaced)
            properties.push_back(extra);
    }
    for (const auto& property : properties)
        Insert(db, L"Property", {L"Property", L"Value"}, {T(property.first), T(property.second)});

    // Directories: TARGETDIR, the program-files folder, then the install folder (one row per level).
    const std::wstring programFiles = x64 ? L"ProgramFiles64Folder" : L"ProgramFilesFolder";
    const std::vector<std::wstring> columnsDir = {L"Directory", L"Directory_Parent", L"DefaultDir"};
    Insert(db, L"Directory", columnsDir, {T(L"TARGETDIR"), Null(), T(L"SourceDir")});
    Insert(db, L"Directory", columnsDir, {T(programFiles), T(L"TARGETDIR"), T(L".")});
    std::wstring parent = programFiles;
    const std::vector<std::wstring> levels = SplitFolder(desc.installFolder);
    for (size_t i = 0; i < levels.size(); ++i) {
        const std::wstring key = i + 1 == levels.size() ? L"INSTALLDIR" : L"QzDir" + std::to_wstring(i + 1);
        Insert(db, L"Directory", columnsDir,
               {T(key), T(parent), T(L"QZDIR" + std::to_wstring(i + 1) + L"|" + levels[i])});
        parent = key;
    }

    Insert(db, L"Feature",
           {L"Feature", L"Feature_Parent", L"Title", L"Description", L"Display", L"Level", L"Directory_",
            L"Attributes"},
           {T(L"Main"), Null(), T(L"Main"), Null(), N(1), N(1), T(L"INSTALLDIR"), N(0)});

    // One component per file, the file being its key path.
    std::vector<CabinetEntry> entries;
    const int componentAttributes = x64 ? 256 : 0; // 64-bit component
    for (size_t i = 0; i < desc.files.size(); ++i) {
        const std::wstring number = std::to_wstring(i + 1);
        const std::wstring fileKey = L"QzFile" + number;
        const std::wstring componentKey = L"QzComponent" + number;
        Insert(db, L"Component",
               {L"Component", L"ComponentId", L"Directory_", L"Attributes", L"Condition", L"KeyPath"},
               {T(componentKey), T(NewGuid()), T(L"INSTALLDIR"), N(componentAttributes), Null(), T(fileKey)});
        Insert(db, L"FeatureComponents", {L"Feature_", L"Component_"}, {T(L"Main"), T(componentKey)});
        Insert(db, L"File",
               {L"File", L"Component_", L"FileName", L"FileSize", L"Version", L"Language", L"Attributes",
                L"Sequence"},
               {T(fileKey), T(componentKey), T(L"QZF" + number + L"|" + desc.files[i].name),
                N(static_cast<int>(desc.files[i].content.size())), Null(), Null(), N(0),
                N(static_cast<int>(i + 1))});
        entries.push_back(CabinetEntry{Narrow(fileKey), &desc.files[i].content});
    }
    WriteFileBytes(cabinet.path(), BuildCabinet(entries));
    Insert(db, L"_Streams", {L"Name", L"Data"}, {T(kCabinetStream), Stream(cabinet.path())});
    Insert(db, L"Media", {L"DiskId", L"LastSequence", L"DiskPrompt", L"Cabinet", L"VolumeLabel", L"Source"},
           {N(1), N(static_cast<int>(desc.files.size())), Null(), T(std::wstring(L"#") + kCabinetStream),
            Null(), Null()});

    const std::vector<std::wstring> columnsSeq = {L"Action", L"Condition", L"Sequence"};
    for (const SequenceEntry& entry : kExecuteSequence)
        Insert(db, L"InstallExecuteSequence", columnsSeq, {T(entry.action), Null(), N(entry.sequence)});
    for (const SequenceEntry& entry : kUiSequence)
        Insert(db, L"InstallUISequence", columnsSeq, {T(entry.action), Null(), N(entry.sequence)});

    if (desc.failWithError != 0) {
        Execute(db, kBinaryTable);
        Execute(db, kCustomActionTable);
        Insert(db, L"Binary", {L"Name", L"Data"}, {T(L"QzFailDll"), Stream(dllPath)});
        // Type 1: a function of a DLL stored in the Binary table, run at once (immediate).
        Insert(db, L"CustomAction", {L"Action", L"Type", L"Source", L"Target"},
               {T(kFailAction), N(1), T(L"QzFailDll"), T(L"FailInstall")});
        Insert(db, L"InstallExecuteSequence", columnsSeq, {T(kFailAction), Null(), N(kFailActionSequence)});
    }

    SetSummary(db, desc, packageCode);
    Check(MsiDatabaseCommit(db), "MsiDatabaseCommit");
}

std::string BuildStoredCabinet(const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<CabinetEntry> entries;
    for (const auto& file : files)
        entries.push_back(CabinetEntry{file.first, &file.second});
    return BuildCabinet(entries);
}

void ChangePackage(const std::wstring& path, const std::wstring& query) {
    InstallerHandle database;
    Check(MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_TRANSACT, database.put()), "opening " + Narrow(path));
    Execute(database.get(), query);
    Check(MsiDatabaseCommit(database.get()), "committing " + Narrow(path));
}

std::wstring NewGuid() {
    GUID guid;
    if (FAILED(CoCreateGuid(&guid)))
        throw std::runtime_error("CoCreateGuid failed");
    wchar_t text[40];
    if (StringFromGUID2(guid, text, 40) == 0)
        throw std::runtime_error("StringFromGUID2 failed");
    return text;
}

bool IsProductRegistered(const std::wstring& productCode) {
    UINT result = 0;
    QueryProductInfo(productCode, L"PackageCode", result);
    return result == ERROR_SUCCESS;
}

std::wstring ProductInfo(const std::wstring& productCode, const wchar_t* property) {
    UINT result = 0;
    return QueryProductInfo(productCode, property, result);
}

UINT RemoveProduct(const std::wstring& productCode) {
    // The same answer on every platform: Wine's installer gives 0 for a
    // product that is not installed (see Deviation::RemovingAbsentProduct).
    if (!IsProductRegistered(productCode))
        return ERROR_UNKNOWN_PRODUCT;
    QuietInstallerUi quiet;
    return MsiConfigureProductExW(productCode.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT,
                                  L"REBOOT=ReallySuppress");
}

std::wstring ProgramFilesFolderFor(const std::wstring& platform) {
    if (platform == L"x64") {
        const std::wstring folder = Environment(L"ProgramW6432");
        if (!folder.empty())
            return folder;
    } else {
        const std::wstring folder = Environment(L"ProgramFiles(x86)");
        if (!folder.empty())
            return folder;
    }
    return Environment(L"ProgramFiles");
}

} // namespace qztest
