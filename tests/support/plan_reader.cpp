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

// Every name in backticks in the manual's table of the plan's fields, each
// part of a dotted path on its own.
std::set<std::string> DocumentedNames() {
    const std::string manual = ReadFileBytes(SourcePath(L"MANUAL.md"));
    const size_t start = manual.find("### What the plan holds");
    if (start == std::string::npos)
        throw std::runtime_error("MANUAL.md has no table of the plan's fields");
    const size_t end = manual.find("\n## ", start);
    std::set<std::string> names;
    size_t line = start;
    while (line < end) {
        size_t next = manual.find('\n', line);
        if (next == std::string::npos || next > end)
            next = end;
        const std::string text = manual.substr(line, next - line);
        line = next + 1;
        if (text.empty() || text[0] != '|')
            continue;
        for (size_t open = text.find('`'); open != std::string::npos; open = text.find('`', open)) {
            const size_t close = text.find('`', open + 1);
            if (close == std::string::npos)
                break;
            std::string token = text.substr(open + 1, close - open - 1);
            open = close + 1;
            size_t part = 0;
            while (part <= token.size()) {
                size_t dot = token.find('.', part);
                if (dot == std::string::npos)
                    dot = token.size();
                std::string name = token.substr(part, dot - part);
                if (name.size() > 2 && name.compare(name.size() - 2, 2, "[]") == 0)
                    name.resize(name.size() - 2);
                if (!name.empty())
                    names.insert(name);
                part = dot + 1;
            }
        }
    }
    return names;
}

void CollectUndocumented(const PlanJson& value, const std::string& path, const std::set<std::string>& names,
                         std::vector<std::string>& missing) {
    if (value.is_object()) {
        for (const auto& field : value.items()) {
            const std::string fieldPath = path.empty() ? field.key() : path + "." + field.key();
            if (!names.count(field.key()))
                missing.push_back(fieldPath);
            CollectUndocumented(field.value(), fieldPath, names, missing);
        }
    } else if (value.is_array()) {
        for (const auto& element : value)
            CollectUndocumented(element, path + "[]", names, missing);
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
    static const std::set<std::string> names = DocumentedNames();
    std::vector<std::string> missing;
    CollectUndocumented(plan, std::string(), names, missing);
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

std::wstring TempFolder() {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, buffer);
    if (length == 0 || length >= MAX_PATH)
        throw std::runtime_error("GetTempPathW failed");
    return std::wstring(buffer, length);
}

} // namespace qztest
