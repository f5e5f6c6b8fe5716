// Writes real installer transforms (.mst): Wine cannot generate them.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace qztest {

// One column value of a transform row: text, a 2-byte or 4-byte integer (as the
// target table's column declares it), or null.
struct TransformValue {
    enum Kind { Text, Short, Long, Null } kind = Null;
    std::wstring text;
    int number = 0;
};

// One row of a changed table. An insert carries every column; an update the
// key columns and then the columns of `updatedColumns` (bit n-1 for column n),
// in column order.
struct TransformRow {
    bool insert = false;
    unsigned columnCount = 0;    // insert: the table's number of columns
    unsigned updatedColumns = 0; // update
    std::vector<TransformValue> values;
};

struct TransformTable {
    std::wstring name;
    std::vector<TransformRow> rows;
};

struct TransformSpec {
    // Property rows the transform updates (the row exists in the base package).
    std::vector<std::pair<std::wstring, std::wstring>> updateProperties;
    // Property rows the transform inserts.
    std::vector<std::pair<std::wstring, std::wstring>> insertProperties;
    UINT codepage = 1252;
};

// What a patch's transforms carry besides.
struct TransformDetails {
    // Rows of other tables (a "Property" entry adds to the TransformSpec's Property rows).
    std::vector<TransformTable> tables;
    // Summary information: the target's language (";1033"),
    // "{product}version;{product}version;{upgrade code}" and the validation
    // flags (the installer reads them from the low word).
    std::wstring summaryTemplate;
    std::wstring summaryRevision;
    unsigned validationFlags = 0;
};

// Writes the transform to `path`. Throws std::runtime_error on failure.
void WriteTransform(const TransformSpec& desc, const std::wstring& path,
                    const TransformDetails& details = TransformDetails());

// A transform that sets ProductLanguage (as an update) to `language`.
void WriteLanguageTransform(const std::wstring& path, unsigned language,
                            const std::vector<std::pair<std::wstring, std::wstring>>& alsoUpdate = {});

} // namespace qztest
