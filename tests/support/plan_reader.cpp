#include "support/plan_reader.h"

#include <algorithm>
#include <stdexcept>

#include "support/test_env.h"

namespace qztest {

PlanJson ReadPlan(const std::wstring& path) {
    if (!PathExists(path))
        throw std::runtime_error("no plan at " + ToUtf8(path));
    const std::string text = ReadFileBytes(path);
    try {
        return PlanJson::parse(text);
    } catch (const std::exception& e) {
        throw std::runtime_error("the plan is no JSON (" + std::string(e.what()) + "): " + text);
    }
}

std::string PlanText(const std::wstring& text) {
    return ToUtf8(text);
}

const PlanJson* PlanSetting(const PlanJson& plan, const std::string& name) {
    const auto settings = plan.find("settings");
    if (settings == plan.end())
        return nullptr;
    for (const auto& setting : *settings)
        if (setting.value("name", std::string()) == name)
            return &setting;
    return nullptr;
}

namespace {

// One row of the manual's table of the plan's fields: the full paths its
// first cell names, and every name in backticks in its description.
struct DocumentedRow {
    std::vector<std::string> paths;
    std::set<std::string> names;
};

// A path without its array marks: "packages.candidates[].file" is
// "packages.candidates.file".
std::string WithoutArrayMarks(std::string path) {
    for (size_t mark = path.find("[]"); mark != std::string::npos; mark = path.find("[]", mark))
        path.erase(mark, 2);
    return path;
}

std::vector<std::string> BacktickedTokens(const std::string& text) {
    std::vector<std::string> tokens;
    for (size_t open = text.find('`'); open != std::string::npos; open = text.find('`', open)) {
        const size_t close = text.find('`', open + 1);
        if (close == std::string::npos)
            break;
        tokens.push_back(text.substr(open + 1, close - open - 1));
        open = close + 1;
    }
    return tokens;
}

// The rows of the manual's table of the plan's fields. A first cell names
// full paths; a token that starts with a dot continues the path before it
// (`machine.windows.version`, `.type` is machine.windows.type).
std::vector<DocumentedRow> DocumentedRows() {
    const std::string manual = ReadFileBytes(SourcePath(L"MANUAL.md"));
    const size_t start = manual.find("### What the plan holds");
    if (start == std::string::npos)
        throw std::runtime_error("MANUAL.md has no table of the plan's fields");
    const size_t end = manual.find("\n## ", start);
    std::vector<DocumentedRow> rows;
    size_t line = start;
    while (line < end) {
        size_t next = manual.find('\n', line);
        if (next == std::string::npos || next > end)
            next = end;
        const std::string text = manual.substr(line, next - line);
        line = next + 1;
        if (text.size() < 2 || text[0] != '|')
            continue;
        const size_t split = text.find('|', 1);
        if (split == std::string::npos)
            continue;
        DocumentedRow row;
        std::string previous;
        for (const std::string& token : BacktickedTokens(text.substr(1, split - 1))) {
            std::string path = WithoutArrayMarks(token);
            if (!path.empty() && path[0] == '.') {
                const size_t dot = previous.rfind('.');
                path = (dot == std::string::npos ? std::string() : previous.substr(0, dot)) + path;
            }
            if (!path.empty() && path[0] != '.') {
                row.paths.push_back(path);
                previous = path;
            }
        }
        for (const std::string& token : BacktickedTokens(text.substr(split + 1)))
            row.names.insert(WithoutArrayMarks(token));
        if (!row.paths.empty())
            rows.push_back(std::move(row));
    }
    return rows;
}

bool StartsWithPath(const std::string& path, const std::string& prefix) {
    return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
           path[prefix.size()] == '.';
}

// A field is documented when a row names its full path; when it is an object
// on the way to a field a row names (`machine.windows`); or when it lies
// inside a field a row names and every name below that field is in the row's
// description (`packages.candidates[].error.code` under `packages.candidates[]`,
// whose description names `error` and `code`).
bool IsDocumented(const std::string& field, const std::vector<DocumentedRow>& rows) {
    const std::string path = WithoutArrayMarks(field);
    for (const DocumentedRow& row : rows) {
        for (const std::string& documented : row.paths) {
            if (path == documented || StartsWithPath(documented, path))
                return true;
            if (!StartsWithPath(path, documented))
                continue;
            bool named = true;
            size_t part = documented.size() + 1;
            while (named && part <= path.size()) {
                size_t dot = path.find('.', part);
                if (dot == std::string::npos)
                    dot = path.size();
                named = row.names.count(path.substr(part, dot - part)) != 0;
                part = dot + 1;
            }
            if (named)
                return true;
        }
    }
    return false;
}

void CollectUndocumented(const PlanJson& value, const std::string& path,
                         const std::vector<DocumentedRow>& rows, std::vector<std::string>& missing) {
    if (value.is_object()) {
        for (const auto& field : value.items()) {
            const std::string fieldPath = path.empty() ? field.key() : path + "." + field.key();
            if (!IsDocumented(fieldPath, rows))
                missing.push_back(fieldPath);
            CollectUndocumented(field.value(), fieldPath, rows, missing);
        }
    } else if (value.is_array()) {
        for (const auto& element : value)
            CollectUndocumented(element, path + "[]", rows, missing);
    }
}

void Walk(const std::wstring& root, const std::wstring& relative, const std::wstring& skip,
          std::set<std::wstring>& found) {
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((root + relative + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = relative + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (_wcsicmp((root + path + L"\\").c_str(), skip.c_str()) == 0)
                continue;
            found.insert(path + L"\\");
            Walk(root, path + L"\\", skip, found);
        } else {
            found.insert(path);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

} // namespace

std::vector<std::string> UndocumentedPlanFields(const PlanJson& plan) {
    static const std::vector<DocumentedRow> rows = DocumentedRows();
    std::vector<std::string> missing;
    CollectUndocumented(plan, std::string(), rows, missing);
    // One entry per field, however many elements of an array hold it.
    std::sort(missing.begin(), missing.end());
    missing.erase(std::unique(missing.begin(), missing.end()), missing.end());
    return missing;
}

std::set<std::wstring> ListTree(const std::wstring& dir, const std::wstring& skip) {
    std::set<std::wstring> found;
    Walk(dir, std::wstring(), skip, found);
    return found;
}

} // namespace qztest
