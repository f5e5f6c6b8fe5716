// Reading the plans that qz-setup.exe writes, and watching that a plan run
// leaves the machine as it was.
#pragma once
#include <windows.h>

#include <nlohmann/json.hpp>

#include <set>
#include <string>
#include <vector>

namespace qztest {

using PlanJson = nlohmann::ordered_json;

// The plan file parsed; throws std::runtime_error when it is missing or no JSON.
PlanJson ReadPlan(const std::wstring& path);

// A wide text as the plan holds it (UTF-8), and back.
std::string PlanText(const std::wstring& text);

// The entry of the plan's "settings" with that name; null when there is none.
const PlanJson* PlanSetting(const PlanJson& plan, const std::string& name);

// The fields of `plan` that the manual's table of the plan's fields
// (MANUAL.md, "What the plan holds") does not name, as paths
// ("packages.candidates[].error.code"). A row's first cell names full paths
// in backticks (`packages.chosen`, `settings[]`; `.folder` continues the path
// before it); a field below one of them is named by the row's description
// when every name between them is there in backticks (`error`, `code`).
std::vector<std::string> UndocumentedPlanFields(const PlanJson& plan);

// Every file and folder under `dir` (recursively, paths relative to it),
// leaving out the folder `skip` (a full path ending in a backslash).
std::set<std::wstring> ListTree(const std::wstring& dir, const std::wstring& skip = std::wstring());

} // namespace qztest
