#include "planning/patch_plan.h"

#include <algorithm>
#include <utility>

#include "diag/messages.h"
#include "msi/patch_file.h"
#include "system/path_helpers.h"
#include "system/win_owners.h"

namespace {

bool EndsWithMsp(const std::wstring& name) {
    return name.size() > 4 &&
           CompareStringOrdinal(name.c_str() + name.size() - 4, 4, L".msp", 4, TRUE) == CSTR_EQUAL;
}

// Every .msp file in `folder`, in name order. The system's pattern "*.msp"
// also matches longer extensions (short names), so each name is checked.
std::vector<std::wstring> PatchFilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    UniqueFindHandle find(FindFirstFileW((folder + L"*.msp").c_str(), &found));
    if (!find.valid())
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && EndsWithMsp(found.cFileName))
            names.push_back(found.cFileName);
    } while (FindNextFileW(find.get(), &found));
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    return names;
}

std::vector<std::wstring> ListEntries(const std::wstring& list) {
    std::vector<std::wstring> entries;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(L';', start);
        if (end == std::wstring::npos)
            end = list.size();
        std::wstring entry = list.substr(start, end - start);
        TrimSpaces(entry);
        if (!entry.empty())
            entries.push_back(entry);
        start = end + 1;
    }
    return entries;
}

std::wstring FullPath(const std::wstring& folder, const std::wstring& entry) {
    const bool absolute = entry[0] == L'\\' || entry[0] == L'/' || (entry.size() > 1 && entry[1] == L':');
    const std::wstring path = absolute ? entry : folder + entry;
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return path;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    if (length == 0 || length >= size)
        return path;
    full.resize(length);
    return full;
}

void EndRun(PatchPlan& plan, UINT code, WORD messageId, const std::wstring& text) {
    plan.endCode = code;
    plan.endMessageId = messageId;
    plan.endMessage = text;
}

} // namespace

PatchPlan PlanPatches(const VariableMap& variables, const std::wstring& packagePath,
                      const std::wstring& productCode, bool productRegistered, SetupMode mode) {
    PatchPlan plan;
    const auto setting = variables.find(QZ_SETUP_PATCHES);
    if (setting == variables.end())
        return plan;
    plan.given = true;
    plan.setting = setting->second;
    plan.folder = VariableValue(variables, QZ_SETUP_PACKAGE_DIR);
    plan.removal = mode == UNINSTALL || mode == UNATTENDED_UNINSTALL;
    if (plan.removal)
        return plan;

    std::wstring trimmed = plan.setting;
    TrimSpaces(trimmed);
    plan.everyPatch = trimmed == L"*";
    const std::vector<std::wstring> names =
        plan.everyPatch ? PatchFilesIn(plan.folder) : ListEntries(trimmed);

    // Each file held from here on, then read: what is read is what the
    // installer gets.
    std::vector<std::wstring> readable;
    std::vector<std::size_t> readableIndex;
    for (const std::wstring& name : names) {
        PatchEntry entry;
        entry.file = FullPath(plan.folder, name);
        HeldFile held = HeldFile::Hold(entry.file, L" Fnc : PlanPatches; Line : 97; ");
        if (!held.held()) {
            const DWORD attributes = GetFileAttributesW(entry.file.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                entry.status = ERROR_PATCH_PACKAGE_OPEN_FAILED;
                entry.why = "it does not exist";
                plan.looked.push_back(entry);
                std::wstring text;
                FormatResourceMessage(IDS_PATCH_MISSING, text, entry.file);
                EndRun(plan, ERROR_PATCH_PACKAGE_OPEN_FAILED, IDS_PATCH_MISSING, text);
                return plan;
            }
            held.Confirm(L" Fnc : PlanPatches; Line : 108; ");
        }
        plan.held.push_back(std::move(held));
        QZ::MSInstaller::PatchSummary summary;
        if (QZ::MSInstaller::ReadPatchSummary(entry.file, summary) != ERROR_SUCCESS) {
            entry.status = ERROR_PATCH_PACKAGE_INVALID;
            entry.why = "it cannot be read as a patch";
            plan.looked.push_back(entry);
            std::wstring text;
            FormatResourceMessage(IDS_PATCH_INVALID, text, entry.file);
            EndRun(plan, ERROR_PATCH_PACKAGE_INVALID, IDS_PATCH_INVALID, text);
            return plan;
        }
        entry.patchCode = summary.patchCode;
        entry.targets = summary.targets;
        readable.push_back(entry.file);
        readableIndex.push_back(plan.looked.size());
        plan.looked.push_back(entry);
    }

    const std::vector<QZ::MSInstaller::PatchVerdict> verdicts = QZ::MSInstaller::DetermineApplicablePatches(
        packagePath, readable, L" Fnc : PlanPatches; Line : 128; ");
    const std::vector<std::wstring> alreadyApplied =
        productRegistered ? QZ::MSInstaller::AppliedPatchCodes(productCode) : std::vector<std::wstring>();
    std::vector<PatchEntry*> applying;
    for (std::size_t i = 0; i < verdicts.size(); ++i) {
        PatchEntry& entry = plan.looked[readableIndex[i]];
        entry.status = verdicts[i].status;
        if (entry.status != ERROR_SUCCESS) {
            entry.why = entry.status == ERROR_PATCH_TARGET_NOT_FOUND ? "it is for another product"
                                                                     : "the installer does not apply it here";
            // A folder may hold the patches of several products (the x86
            // and the x64 package): those of another are passed over. What
            // was named is never left out silently.
            if (plan.everyPatch && entry.status == ERROR_PATCH_TARGET_NOT_FOUND) {
                entry.noteId = IDS_PATCH_OTHER_PRODUCT;
                FormatResourceMessage(IDS_PATCH_OTHER_PRODUCT, entry.note, entry.file);
                plan.lines.push_back(entry.note);
                continue;
            }
            // Every verdict is still written down; the first such patch ends the run.
            if (plan.endCode == 0) {
                std::wstring text;
                FormatResourceMessage(IDS_PATCH_NOT_APPLICABLE, text, entry.file, packagePath,
                                      static_cast<unsigned>(entry.status));
                EndRun(plan, entry.status, IDS_PATCH_NOT_APPLICABLE, text);
            }
            continue;
        }
        // Applied once already (a rerun): applying it again would register it twice.
        if (std::find(alreadyApplied.begin(), alreadyApplied.end(), entry.patchCode) !=
            alreadyApplied.end()) {
            entry.why = "it is already applied to the installed product";
            entry.noteId = IDS_PATCH_ALREADY_APPLIED;
            FormatResourceMessage(IDS_PATCH_ALREADY_APPLIED, entry.note, entry.file, entry.patchCode);
            plan.lines.push_back(entry.note);
            continue;
        }
        entry.applies = true;
        entry.order = verdicts[i].order;
        applying.push_back(&entry);
    }
    if (plan.endCode != 0)
        return plan;
    std::stable_sort(applying.begin(), applying.end(),
                     [](const PatchEntry* a, const PatchEntry* b) { return a->order < b->order; });
    for (std::size_t i = 0; i < applying.size(); ++i) {
        plan.applied.push_back(applying[i]->file);
        plan.value += (i ? L";" : L"") + applying[i]->file;
        std::wstring line;
        FormatResourceMessage(IDS_PATCH_APPLIED_WITH, line, applying[i]->file, applying[i]->patchCode,
                              static_cast<unsigned>(i + 1));
        plan.lines.push_back(line);
    }
    return plan;
}
