#include "support/plan_reader.h"

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
