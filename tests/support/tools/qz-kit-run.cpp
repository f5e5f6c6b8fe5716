// Runs the test programs of the test kit one after the other, as
// run-tests.cmd asks, and writes a plain report: the machine (Windows
// version, processor, whether the prompt is an administrator's), each
// program's result and time, and the output of every program that failed.
// Exits with 0 when no program failed, 1 when one did, 2 when it could not
// run them at all.
// Usage: qz-kit-run.exe REPORT [PROGRAM...]   (programs: qz-tests-*.exe
// beside this one; named ones only, with or without .exe, when given)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/kit_report.h"
#include "support/platform_deviations.h"
#include "support/process_runner.h"
#include "support/test_env.h"
#include "system/win_owners.h"

namespace {

using qztest::FromUtf8;
using qztest::ToUtf8;

// A test program may run for a long time (it installs real products), but not forever.
constexpr DWORD kProgramTimeoutMs = 90u * 60u * 1000u;

// A value of the 64-bit registry view (a 32-bit program sees the other one by default).
bool RegistryValue(const wchar_t* key, const wchar_t* name, DWORD type, void* value, DWORD size) {
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &raw) != ERROR_SUCCESS)
        return false;
    const UniqueRegistryKey opened(raw);
    DWORD found = 0;
    return RegQueryValueExW(opened.get(), name, nullptr, &found, static_cast<BYTE*>(value), &size) ==
               ERROR_SUCCESS &&
           found == type;
}

std::wstring RegistryText(const wchar_t* key, const wchar_t* name) {
    wchar_t value[256] = {};
    return RegistryValue(key, name, REG_SZ, value, sizeof value - sizeof(wchar_t)) ? value : L"";
}

DWORD RegistryNumber(const wchar_t* key, const wchar_t* name) {
    DWORD value = 0;
    return RegistryValue(key, name, REG_DWORD, &value, sizeof value) ? value : 0;
}

std::string WindowsVersion() {
    // GetVersionExW answers what the manifest allows; RtlGetVersion the truth.
    RTL_OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    using GetVersion = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
    const auto get = reinterpret_cast<GetVersion>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    if (get)
        get(&info);
    const wchar_t key[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    std::string text = ToUtf8(RegistryText(key, L"ProductName"));
    const std::wstring display = RegistryText(key, L"DisplayVersion");
    if (!display.empty())
        text += " " + ToUtf8(display);
    text += " (" + std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
            std::to_string(info.dwBuildNumber);
    if (const DWORD ubr = RegistryNumber(key, L"UBR"))
        text += "." + std::to_string(ubr);
    text += ")";
    if (qztest::UnderWine())
        text += ", under Wine " + qztest::WineVersion();
    return text;
}

std::string Processor() {
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    std::string architecture;
    switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
        architecture = "x64";
        break;
    case PROCESSOR_ARCHITECTURE_INTEL:
        architecture = "x86";
        break;
    case PROCESSOR_ARCHITECTURE_ARM64:
        architecture = "Arm64";
        break;
    default:
        architecture = "architecture " + std::to_string(info.wProcessorArchitecture);
    }
    // A 32-bit process on Windows 11 on Arm is told x64: only IsWow64Process2 says Arm64.
    using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    const auto isWow64Process2 = reinterpret_cast<IsWow64Process2Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
    USHORT processMachine = 0;
    USHORT nativeMachine = 0;
    if (isWow64Process2 && isWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine) &&
        nativeMachine == 0xAA64)
        architecture = "Arm64";
    const std::wstring name =
        RegistryText(L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", L"ProcessorNameString");
    return architecture + ", " + std::to_string(info.dwNumberOfProcessors) + " logical processors" +
           (name.empty() ? "" : ", " + ToUtf8(name));
}

bool Elevated() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
        return false;
    const UniqueKernelHandle token(raw);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated;
}

std::string Now() {
    SYSTEMTIME time{};
    GetSystemTime(&time);
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u UTC", time.wYear, time.wMonth, time.wDay,
                  time.wHour, time.wMinute, time.wSecond);
    return text;
}

std::vector<std::wstring> TestPrograms(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    const UniqueFindHandle find(FindFirstFileW((folder + L"qz-tests-*.exe").c_str(), &data));
    if (!find.valid())
        return names;
    do {
        names.push_back(data.cFileName);
    } while (FindNextFileW(find.get(), &data));
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring WithExe(std::wstring name) {
    if (name.size() < 4 || _wcsicmp(name.c_str() + name.size() - 4, L".exe") != 0)
        name += L".exe";
    return name;
}

std::string Stem(const std::wstring& name) {
    return ToUtf8(name.substr(0, name.size() - 4));
}

void Say(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: qz-kit-run.exe REPORT [PROGRAM...]\n");
        return 2;
    }
    const std::wstring report = argv[1];
    // A report of an earlier run must not pass for this one's.
    DeleteFileW(report.c_str());
    const std::wstring folder = qztest::BinDir();
    std::vector<std::wstring> programs;
    for (int i = 2; i < argc; ++i)
        programs.push_back(WithExe(argv[i]));
    if (programs.empty())
        programs = TestPrograms(folder);
    for (const std::wstring& program : programs) {
        if (!qztest::PathExists(folder + program)) {
            std::fprintf(stderr, "qz-kit-run: no test program %s in %s\n", ToUtf8(program).c_str(),
                         ToUtf8(folder).c_str());
            return 2;
        }
    }
    if (programs.empty()) {
        std::fprintf(stderr, "qz-kit-run: no test programs in %s\n", ToUtf8(folder).c_str());
        return 2;
    }

    // Each program's output goes to a file of its own; programs run in a
    // folder of their own, emptied first.
    const std::wstring outputs = folder + L"..\\output\\";
    const std::wstring work = folder + L"..\\work\\";
    qztest::RemoveTree(outputs);
    qztest::RemoveTree(work);
    CreateDirectoryW(outputs.c_str(), nullptr);
    CreateDirectoryW(work.c_str(), nullptr);

    // Most tests install products machine-wide: without an administrator's
    // token they would fail for that reason alone.
    if (!Elevated()) {
        std::fprintf(stderr, "qz-kit-run: the tests need an administrator's command prompt (this one is not "
                             "elevated); nothing was run\n");
        return 2;
    }

    std::string head = "qz-setup test kit report\r\n";
    head += "Started:        " + Now() + "\r\n";
    head += "Windows:        " + WindowsVersion() + "\r\n";
    head += "Processor:      " + Processor() + "\r\n";
    head += std::string("Configuration:  ") + (sizeof(void*) == 8 ? "x64" : "x86") + " test programs\r\n";
    Say(head);

    std::string lines;
    std::string failures;
    unsigned failed = 0;
    for (const std::wstring& program : programs) {
        Say("running " + Stem(program) + " ...");
        qztest::ProgramRun run;
        run.program = Stem(program);
        qztest::ProcessOptions options;
        options.workingDir = work;
        options.timeoutMs = kProgramTimeoutMs;
        options.outputFile = outputs + program.substr(0, program.size() - 4) + L".txt";
        const ULONGLONG began = GetTickCount64();
        const qztest::ProcessResult result = qztest::RunProgramArgs(folder + program, {}, options);
        run.seconds = static_cast<double>(GetTickCount64() - began) / 1000.0;
        run.exitCode = result.exitCode;
        run.timedOut = result.timedOut;
        std::string output;
        try {
            output = qztest::ReadFileBytes(options.outputFile);
        } catch (const std::exception& e) {
            output = e.what();
        }
        run.counts = qztest::ReadTestCounts(output);
        const std::string line = qztest::ReportLine(run);
        Say(line);
        lines += line + "\r\n";
        if (qztest::Verdict(run) == "failed") {
            ++failed;
            failures += "\r\n===== output of " + run.program + " =====\r\n" + output + "\r\n";
        }
    }

    std::string text = head + "\r\n" + lines + "\r\n";
    text += failed ? "Result: FAILED (" + std::to_string(failed) + " of " + std::to_string(programs.size()) +
                         " test programs)\r\n"
                   : "Result: passed (" + std::to_string(programs.size()) + " test programs)\r\n";
    text += "Ended:          " + Now() + "\r\n" + failures;
    try {
        qztest::WriteFileBytes(report, text);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qz-kit-run: %s\n", e.what());
        return 2;
    }
    Say(failed ? "Result: FAILED, see " + ToUtf8(report) : "Result: passed, report in " + ToUtf8(report));
    return failed ? 1 : 0;
}
