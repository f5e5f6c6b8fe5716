// The manifest asks for the common controls of version 6 (visual styles):
// the running program takes comctl32 from the side-by-side folder, not the
// system directory's older one. (Wine's comctl32 calls itself 5.81 either
// way, so its path tells which one was loaded.)
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "qz-version.h"
#include "support/process_modules.h"
#include "support/setup_runner.h"
#include "support/test_env.h"
#include "system/win_owners.h"

namespace {

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

TEST(VisualStyles, TheRunningProgramLoadsTheSideBySideCommonControls) {
    // Also with a comctl32.dll planted beside the program: the side-by-side
    // one is taken, and the planted one never runs.
    for (const bool planted : {false, true}) {
        SCOPED_TRACE(planted ? "a comctl32.dll planted beside it" : "a clean folder");
        qztest::TempDir dir;
        if (planted)
            qztest::CopyFileOrThrow(qztest::BinDir() + L"qz-planted.dll", dir / L"comctl32.dll");
        std::vector<std::wstring> comctl32;
        qztest::SetupOptions options;
        options.onTextViewer = [&](HWND viewer) {
            DWORD processId = 0;
            GetWindowThreadProcessId(viewer, &processId);
            for (const std::wstring& module : qztest::ProcessModules(processId))
                if (Lower(module).find(L"\\comctl32.dll") != std::wstring::npos)
                    comctl32.push_back(Lower(module));
        };
        const qztest::SetupRun run = qztest::RunSetup(dir.path(), {L"/p", L"Nope"}, options);
        ASSERT_EQ(1u, run.dialogs.size());
        ASSERT_EQ(1u, comctl32.size());
        EXPECT_NE(std::wstring::npos, comctl32[0].find(L"\\winsxs\\")) << qztest::ToUtf8(comctl32[0]);
        EXPECT_NE(std::wstring::npos,
                  comctl32[0].find(L"microsoft.windows.common-controls_6595b64144ccf1df_6."))
            << qztest::ToUtf8(comctl32[0]);
        EXPECT_FALSE(qztest::PathExists(dir / L"comctl32.dll.loaded"));
    }
}

// The manifest's text, as the built program carries it.
std::string ManifestOf(const std::wstring& program) {
    const UniqueModule module(LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module.valid())
        return std::string();
    const HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
    const auto* text =
        found ? static_cast<const char*>(LockResource(LoadResource(module.get(), found))) : nullptr;
    return text ? std::string(text, SizeofResource(module.get(), found)) : std::string();
}

TEST(Manifest, AsksForVisualStylesDpiAwarenessAndAdministratorRights) {
    const std::string manifest = ManifestOf(qztest::SetupExePath());
#ifdef _WIN64
    const std::string architecture = "amd64";
#else
    const std::string architecture = "x86";
#endif
    const std::string expected[] = {
        "<assemblyIdentity type=\"win32\" name=\"QZ.Setup\" version=\"" QZ_VERSION_TEXT ".0\" "
        "processorArchitecture=\"" +
            architecture + "\"/>",
        "<dependentAssembly>\n      <assemblyIdentity type=\"win32\" "
        "name=\"Microsoft.Windows.Common-Controls\" "
        "version=\"6.0.0.0\" processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" "
        "language=\"*\"/>",
        "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>",
        "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, "
        "System</dpiAwareness>",
        "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>",
        // Vista, 7, 8, 8.1, 10 and 11.
        "<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>",
        "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",
        "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",
        "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",
        "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",
    };
    for (const std::string& piece : expected)
        EXPECT_NE(std::string::npos, manifest.find(piece)) << piece << "\nin\n" << manifest;
    // Per-monitor awareness of the first kind would need WM_DPICHANGED handled.
    EXPECT_EQ(std::string::npos, manifest.find(">PerMonitor<"));
    EXPECT_EQ(std::string::npos, manifest.find("PerMonitor,"));
}

} // namespace
