#include "support/transform_writer.h"

#include <objbase.h>
#include <objidl.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// A transform is a compound file with the transform class id. Its streams:
//  - "_StringPool": the codepage (low word, then high word; bit 0x8000 of the high word
//    would announce 3-byte string references, never used here), then one entry per string
//    id from 1: byte length and reference count, 16 bits each.
//  - "_StringData": the strings back to back in that codepage, without terminators.
//  - one stream per changed table ("Property"), holding records one after the other:
//    a 16-bit mask, then the string ids (16 bits) of the key and of each present column.
//    Mask 0x0002 carries the key and column 2 (Value): an update of that column.
//    Mask 0x0201 (low bit set, column count in the high byte) carries the whole row: an insert.
//  - "\005SummaryInformation": an ordinary property set, written byte by byte here.
// The table streams and the two string streams are named with the installer's
// stream-name encoding; string id 0 stands for an empty (null) value.

namespace qztest {
namespace {

const CLSID kTransformClassId = {
    0x000C1082, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const FMTID kSummaryFormatId = {0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}};

const uint16_t kMaskUpdateValue = 0x0002;
const uint16_t kMaskWholeRow = 0x0201;

// Owner of one COM interface pointer; releases it when it goes out of scope.
template <class Interface> class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() { reset(); }

    Interface* get() const { return m_pointer; }
    Interface* operator->() const { return m_pointer; }
    // Releases the current pointer and yields the place for a new one.
    Interface** put() {
        reset();
        return &m_pointer;
    }
    void reset() {
        if (m_pointer) {
            m_pointer->Release();
            m_pointer = nullptr;
        }
    }

private:
    Interface* m_pointer = nullptr;
};

// Deletes a file that was created but only partly written: armed once the file
// exists, disarmed when it is complete.
class PartialFileRemover {
public:
    explicit PartialFileRemover(std::wstring path) : m_path(std::move(path)) {}
    PartialFileRemover(const PartialFileRemover&) = delete;
    PartialFileRemover& operator=(const PartialFileRemover&) = delete;
    ~PartialFileRemover() {
        if (m_armed)
            DeleteFileW(m_path.c_str());
    }
    void Arm() { m_armed = true; }
    void Disarm() { m_armed = false; }

private:
    std::wstring m_path;
    bool m_armed = false;
};

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text)
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out;
}

[[noreturn]] void Fail(const std::string& what, HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    throw std::runtime_error("transform writer: " + what + " failed (" + code + ")");
}

void AppendWord(std::string& out, uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}

void AppendDword(std::string& out, uint32_t value) {
    AppendWord(out, static_cast<uint16_t>(value & 0xFFFF));
    AppendWord(out, static_cast<uint16_t>(value >> 16));
}

void PutDword(std::string& out, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The installer's 6-bit alphabet for stream names; -1 for characters outside it.
int StreamNameDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'A' && c <= L'Z')
        return c - L'A' + 10;
    if (c >= L'a' && c <= L'z')
        return c - L'a' + 36;
    if (c == L'.')
        return 62;
    if (c == L'_')
        return 63;
    return -1;
}

// Stream name of a table: the prefix 0x4840, then pairs of alphabet characters folded
// into one (0x3800 + (second << 6) + first), a lone one as 0x4800 + digit; other
// characters stay as they are.
std::wstring TableStreamName(const std::wstring& table) {
    std::wstring out(1, wchar_t(0x4840));
    for (size_t i = 0; i < table.size(); ++i) {
        const int first = StreamNameDigit(table[i]);
        if (first < 0) {
            out += table[i];
            continue;
        }
        const int second = i + 1 < table.size() ? StreamNameDigit(table[i + 1]) : -1;
        if (second >= 0) {
            out += static_cast<wchar_t>(0x3800 + (second << 6) + first);
            ++i;
        } else {
            out += static_cast<wchar_t>(0x4800 + first);
        }
    }
    if (out.size() > 31) // the compound file's limit, terminator included
        throw std::runtime_error("transform writer: table name too long: " + Narrow(table));
    return out;
}

// Text in the transform's codepage; refuses characters the codepage cannot hold
// rather than writing a replacement character.
std::string ToCodepage(const std::wstring& text, UINT codepage) {
    if (text.empty())
        return std::string();
    const bool utf8 = codepage == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    const int size = WideCharToMultiByte(codepage, flags, text.data(), static_cast<int>(text.size()), nullptr,
                                         0, nullptr, utf8 ? nullptr : &usedDefault);
    if (size <= 0 || usedDefault)
        throw std::runtime_error("transform writer: \"" + Narrow(text) + "\" cannot be written in codepage " +
                                 std::to_string(codepage));
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(codepage, flags, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr,
                        nullptr);
    return out;
}

// The transform's own string table: ids from 1, each distinct string once, with the
// number of references the table streams make to it.
class StringPool {
public:
    explicit StringPool(UINT codepage) : m_codepage(codepage) {}

    // The id of `text` (0 for an empty text), counting one more reference.
    uint16_t Reference(const std::wstring& text) {
        if (text.empty())
            return 0;
        auto found = m_ids.find(text);
        if (found == m_ids.end()) {
            std::string bytes = ToCodepage(text, m_codepage);
            if (bytes.size() > 0xFFFF)
                throw std::runtime_error("transform writer: string longer than 65535 bytes");
            if (m_entries.size() >= 0xFFFF)
                throw std::runtime_error("transform writer: too many strings");
            m_entries.push_back({std::move(bytes), 0});
            found = m_ids.emplace(text, static_cast<uint16_t>(m_entries.size())).first;
        }
        Entry& entry = m_entries[found->second - 1];
        if (entry.references == 0xFFFF)
            throw std::runtime_error("transform writer: too many references to one string");
        ++entry.references;
        return found->second;
    }

    std::string PoolStream() const {
        std::string out;
        AppendWord(out, static_cast<uint16_t>(m_codepage & 0xFFFF));
        AppendWord(out, static_cast<uint16_t>((m_codepage >> 16) & 0x7FFF));
        for (const Entry& entry : m_entries) {
            AppendWord(out, static_cast<uint16_t>(entry.bytes.size()));
            AppendWord(out, entry.references);
        }
        return out;
    }

    std::string DataStream() const {
        std::string out;
        for (const Entry& entry : m_entries)
            out += entry.bytes;
        return out;
    }

private:
    struct Entry {
        std::string bytes;
        uint16_t references;
    };
    UINT m_codepage;
    std::vector<Entry> m_entries;
    std::map<std::wstring, uint16_t> m_ids;
};

std::string PropertyRows(const TransformSpec& desc, StringPool& pool) {
    std::set<std::wstring> seen;
    std::string out;
    auto addRows = [&](const std::vector<std::pair<std::wstring, std::wstring>>& rows, uint16_t mask) {
        for (const auto& row : rows) {
            if (row.first.empty())
                throw std::runtime_error("transform writer: a Property row needs a name");
            if (!seen.insert(row.first).second)
                throw std::runtime_error("transform writer: property " + Narrow(row.first) + " given twice");
            AppendWord(out, mask);
            AppendWord(out, pool.Reference(row.first));
            AppendWord(out, pool.Reference(row.second));
        }
    };
    addRows(desc.updateProperties, kMaskUpdateValue);
    addRows(desc.insertProperties, kMaskWholeRow);
    return out;
}

// Rows of any table: the mask, then each value as wide as its column.
std::string TableRows(const std::vector<TransformRow>& rows, StringPool& pool) {
    std::string out;
    for (const TransformRow& row : rows) {
        if (row.insert) {
            if (row.columnCount == 0 || row.columnCount > 0xFF || row.values.size() != row.columnCount)
                throw std::runtime_error("transform writer: an inserted row needs every column");
            AppendWord(out, static_cast<uint16_t>(1 | (row.columnCount << 8)));
        } else {
            if (row.updatedColumns == 0 || (row.updatedColumns & 1) || row.updatedColumns > 0xFFFF)
                throw std::runtime_error(
                    "transform writer: an updated row needs columns other than the first");
            AppendWord(out, static_cast<uint16_t>(row.updatedColumns));
        }
        for (const TransformValue& value : row.values) {
            switch (value.kind) {
            case TransformValue::Text:
                AppendWord(out, pool.Reference(value.text));
                break;
            case TransformValue::Short:
                AppendWord(out, static_cast<uint16_t>(value.number + 0x8000));
                break;
            case TransformValue::Long:
                AppendDword(out, static_cast<uint32_t>(value.number) ^ 0x80000000u);
                break;
            case TransformValue::Null:
                AppendWord(out, 0);
                break;
            }
        }
    }
    return out;
}

// Summary information of the transform: codepage, title, the target's language (when
// the transform sets ProductLanguage), the installer version and the validation flags
// (0: no validation, no error suppressed).
std::string SummaryStream(UINT codepage, const std::wstring& targetLanguage, const TransformDetails& desc) {
    struct Property {
        uint32_t id;
        std::string value; // type, then data padded to 4 bytes
    };
    auto lpstr = [](const std::string& text) {
        std::string value;
        AppendDword(value, VT_LPSTR);
        AppendDword(value, static_cast<uint32_t>(text.size() + 1));
        value += text;
        value += '\0';
        while (value.size() % 4)
            value += '\0';
        return value;
    };
    auto integer = [](VARTYPE type, uint32_t number) {
        std::string value;
        AppendDword(value, type);
        AppendDword(value, number);
        return value;
    };
    std::vector<Property> properties;
    properties.push_back({PID_CODEPAGE, integer(VT_I2, codepage & 0xFFFF)});
    properties.push_back({PIDSI_TITLE, lpstr("Transform")});
    if (!desc.summaryTemplate.empty())
        properties.push_back({PIDSI_TEMPLATE, lpstr(Narrow(desc.summaryTemplate))});
    if (!targetLanguage.empty())
        properties.push_back({PIDSI_LASTAUTHOR, lpstr(";" + Narrow(targetLanguage))});
    if (!desc.summaryRevision.empty())
        properties.push_back({PIDSI_REVNUMBER, lpstr(Narrow(desc.summaryRevision))});
    properties.push_back({PIDSI_PAGECOUNT, integer(VT_I4, 200)});
    properties.push_back({PIDSI_CHARCOUNT, integer(VT_I4, desc.validationFlags)});

    std::string out;
    AppendWord(out, 0xFFFE); // byte order
    AppendWord(out, 0);      // format
    AppendDword(out, 0x00020005);
    out.append(16, '\0'); // class id
    AppendDword(out, 1);  // one section
    out.append(reinterpret_cast<const char*>(&kSummaryFormatId), sizeof kSummaryFormatId);
    AppendDword(out, static_cast<uint32_t>(out.size() + 4));

    const size_t sectionStart = out.size();
    AppendDword(out, 0); // section size, filled in below
    AppendDword(out, static_cast<uint32_t>(properties.size()));
    uint32_t offset = static_cast<uint32_t>(8 + 8 * properties.size());
    for (const Property& property : properties) {
        AppendDword(out, property.id);
        AppendDword(out, offset);
        offset += static_cast<uint32_t>(property.value.size());
    }
    for (const Property& property : properties)
        out += property.value;
    PutDword(out, sectionStart, static_cast<uint32_t>(out.size() - sectionStart));
    return out;
}

void WriteStream(IStorage* storage, const std::wstring& name, const std::string& bytes) {
    ComRef<IStream> stream;
    HRESULT hr = storage->CreateStream(name.c_str(), STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                       stream.put());
    if (FAILED(hr))
        Fail("CreateStream", hr);
    ULONG written = 0;
    if (!bytes.empty()) {
        hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
        if (FAILED(hr) || written != bytes.size())
            Fail("IStream::Write", FAILED(hr) ? hr : STG_E_WRITEFAULT);
    }
}

std::wstring FindValue(const std::vector<std::pair<std::wstring, std::wstring>>& rows,
                       const std::wstring& name) {
    for (const auto& row : rows)
        if (row.first == name)
            return row.second;
    return std::wstring();
}

} // namespace

void WriteTransform(const TransformSpec& desc, const std::wstring& path, const TransformDetails& details) {
    StringPool pool(desc.codepage);
    std::string propertyRows = PropertyRows(desc, pool);
    std::vector<std::pair<std::wstring, std::string>> tableStreams;
    for (const TransformTable& table : details.tables) {
        if (table.name == L"Property")
            propertyRows += TableRows(table.rows, pool);
        else
            tableStreams.emplace_back(table.name, TableRows(table.rows, pool));
    }
    std::wstring language = FindValue(desc.updateProperties, L"ProductLanguage");
    if (language.empty())
        language = FindValue(desc.insertProperties, L"ProductLanguage");

    // Declared before the storage, so the storage is closed before a partial file is removed.
    PartialFileRemover remover(path);
    ComRef<IStorage> storage;
    HRESULT hr = StgCreateDocfile(
        path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DIRECT, 0, storage.put());
    if (FAILED(hr))
        Fail("StgCreateDocfile", hr);
    remover.Arm();

    hr = storage->SetClass(kTransformClassId);
    if (FAILED(hr))
        Fail("IStorage::SetClass", hr);
    WriteStream(storage.get(), TableStreamName(L"_StringPool"), pool.PoolStream());
    WriteStream(storage.get(), TableStreamName(L"_StringData"), pool.DataStream());
    if (!propertyRows.empty())
        WriteStream(storage.get(), TableStreamName(L"Property"), propertyRows);
    for (const auto& table : tableStreams)
        WriteStream(storage.get(), TableStreamName(table.first), table.second);
    WriteStream(storage.get(), L"\005SummaryInformation", SummaryStream(desc.codepage, language, details));
    hr = storage->Commit(STGC_DEFAULT);
    if (FAILED(hr))
        Fail("IStorage::Commit", hr);
    storage.reset();
    remover.Disarm();
}

void WriteLanguageTransform(const std::wstring& path, unsigned language,
                            const std::vector<std::pair<std::wstring, std::wstring>>& alsoUpdate) {
    TransformSpec desc;
    desc.updateProperties.emplace_back(L"ProductLanguage", std::to_wstring(language));
    desc.updateProperties.insert(desc.updateProperties.end(), alsoUpdate.begin(), alsoUpdate.end());
    WriteTransform(desc, path);
}

} // namespace qztest
