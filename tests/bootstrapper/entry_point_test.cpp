// The entry point of the real program: DLLs that the run loads late by bare
// name come from the system directory, not from the executable's folder.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "support/dialog_driver.h"
#include "support/package_builder.h"
#include "support/process_runner.h"
#include "support/setup_runner.h"
#include "support/test_env.h"

using namespace qztest;

namespace {

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

// Full paths of the modules loaded in a process, in lower case.
std::vector<std::wstring> LoadedModules(DWORD processId) {
    std::vector<std::wstring> modules;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
    if (snapshot == INVALID_HANDLE_VALUE)
        return modules;
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32FirstW(snapshot, &entry); more; more = Module32NextW(snapshot, &entry))
        modules.push_back(Lower(entry.szExePath));
    CloseHandle(snapshot);
    return modules;
}

std::wstring SystemDirectory() {
    wchar_t buffer[MAX_PATH] = L"";
    GetSystemDirectoryW(buffer, MAX_PATH);
    return Lower(buffer) + L"\\";
}

// DLLs that an attended run loads by bare name once it is running: the
// theming library when its first window comes up, and the text shaping
// library that the rich edit control imports.
const wchar_t* const kLateDlls[] = {L"uxtheme.dll", L"usp10.dll"};
// Wine's theming library delay-loads this one; Wine looks for delay-loaded
// DLLs beside the program whatever the process asked for (it then maps its
// own copy under the planted file's name). Planted all the same: its code
// must never run.
const wchar_t* const kDelayLoadedDll = L"msimg32.dll";

TEST(EntryPointTest, DllsLoadedLateComeFromTheSystemDirectoryNotFromBesideTheProgram) {
    TempDir dir;
    PackageSpec product;
    product.productName = L"QZ Entry Test " + NewGuid().substr(1, 8);
    BuildPackage(product, dir / L"package.msi");
    for (const wchar_t* dll : kLateDlls)
        CopyFileOrThrow(BinDir() + L"qz-planted.dll", dir / dll);
    CopyFileOrThrow(BinDir() + L"qz-planted.dll", dir / kDelayLoadedDll);
    const std::wstring exe = InstallSetupExe(dir.path());

    // An attended help run: its text viewer uses the dialog and rich edit DLLs.
    ProcessOptions options;
    options.workingDir = dir.path();
    RunningProcess process(exe, L"/h /f package.msi", options);
    const HWND viewer = WaitForDialog(IDC_VIEWER_TEXT, process.id(), 30000);
    ASSERT_NE(viewer, nullptr) << "no text viewer";
    Sleep(100);
    const std::vector<std::wstring> modules = LoadedModules(process.id());
    const std::wstring text = ControlText(viewer, IDC_VIEWER_TEXT);
    PressOk(viewer);
    const ProcessResult result = process.Wait(30000);

    ASSERT_FALSE(modules.empty()) << "the process's modules cannot be listed";
    const std::wstring folder = Lower(dir.path());
    const std::wstring system = SystemDirectory();
    for (const wchar_t* dll : kLateDlls) {
        SCOPED_TRACE(ToUtf8(dll));
        EXPECT_EQ(std::count(modules.begin(), modules.end(), folder + dll), 0)
            << "loaded from beside the program";
    }
    EXPECT_EQ(std::count(modules.begin(), modules.end(), system + L"uxtheme.dll"), 1)
        << "the theming library is not loaded from the system directory: the check shows nothing";
    for (const wchar_t* dll : {kLateDlls[0], kLateDlls[1], kDelayLoadedDll})
        EXPECT_FALSE(PathExists(dir / dll + L".loaded")) << ToUtf8(dll) << " beside the program was run";

    // And the run works as ever.
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_NE(text.find(L"QZSETUP:BOOTSTRAP:INFO:0:"), std::wstring::npos) << ToUtf8(text);
}

} // namespace
