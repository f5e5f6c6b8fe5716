#include "support/robustness.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "resources/resource_ids.h"
#include "support/dialog_driver.h"
#include "support/platform_deviations.h"
#include "support/setup_runner.h"
#include "support/test_env.h"

namespace qztest {
namespace {

const wchar_t kAeDebugKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug";

struct RegistryKey {
    HKEY key = nullptr;
    ~RegistryKey() {
        if (key)
            RegCloseKey(key);
    }
};

std::wstring PreparedRoot() {
    wchar_t full[MAX_PATH] = {};
    const std::wstring relative = BinDir() + L"..\\robust-mounts\\";
    const DWORD length = GetFullPathNameW(relative.c_str(), MAX_PATH, full, nullptr);
    return length && length < MAX_PATH ? std::wstring(full, length) : relative;
}

// The status line robust-mounts.sh wrote for `name` ("ok ..." or the reason it could not).
std::wstring PreparedStatus(const std::wstring& name) {
    const std::wstring path = PreparedRoot() + L"status";
    if (!UnderWine())
        return L"refused: needs the Linux host: " + FromUtf8(Reason(LinuxHostNeed::MountedDrive));
    if (!PathExists(path))
        return L"refused: robust-mounts.sh did not prepare " + PreparedRoot() +
               L" (the test ran without it as its launcher)";
    std::istringstream lines(ReadFileBytes(path));
    std::string line;
    while (std::getline(lines, line)) {
        const std::wstring text = FromUtf8(line);
        if (text.compare(0, name.size() + 1, name + L"=") == 0)
            return text.substr(name.size() + 1);
    }
    return L"refused: no status for " + name;
}

std::wstring DescribeWindow(HWND window) {
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    std::wstring text = std::wstring(L"[") + className + L"] " + WindowText(window);
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const std::wstring childText = WindowText(child);
        if (!childText.empty())
            text += L" | " + childText;
    }
    return text;
}

struct ProcessWindows {
    DWORD processId;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<ProcessWindows*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window))
        search->windows.push_back(window);
    return TRUE;
}

bool IsDialogWith(HWND window, int controlId) {
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    return wcscmp(className, L"#32770") == 0 && GetDlgItem(window, controlId) != nullptr;
}

GuardedRun RunGuardedImpl(const std::wstring& exe, const std::wstring& tail, const std::wstring& dir,
                          const GuardedOptions& options) {
    ProcessOptions processOptions = options.process;
    if (processOptions.workingDir.empty())
        processOptions.workingDir = dir;
    ClearCrashReports();

    GuardedRun run;
    const DWORD start = GetTickCount();
    RunningProcess process(exe, tail, processOptions);
    if (options.onStarted)
        options.onStarted(process);
    bool ended = false;
    while (!ended) {
        if (WaitForSingleObject(process.handle(), 30) != WAIT_TIMEOUT) {
            ended = true;
            break;
        }
        if (GetTickCount() - start > processOptions.timeoutMs)
            break;
        ProcessWindows search{process.id(), {}};
        EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
        for (HWND window : search.windows) {
            if (IsDialogWith(window, IDC_VIEWER_TEXT)) {
                Sleep(50); // let WM_INITDIALOG finish filling the control
                run.dialogs.push_back(ControlText(window, IDC_VIEWER_TEXT));
                PressOk(window);
                // However slowly it closes: seen again, it would count twice.
                while (IsWindow(window) && WaitForSingleObject(process.handle(), 20) == WAIT_TIMEOUT &&
                       GetTickCount() - start <= processOptions.timeoutMs) {
                }
            } else if (IsDialogWith(window, IDC_LANGUAGE_COMBO)) {
                run.unexpectedWindows.push_back(L"language dialog: " + DescribeWindow(window));
                PressCancel(window);
            } else {
                // A message box from a crash or an abort: record it and end the process.
                run.unexpectedWindows.push_back(DescribeWindow(window));
                TerminateProcess(process.handle(), 0xDEADu);
            }
        }
    }
    const DWORD elapsed = GetTickCount() - start;
    const ProcessResult result =
        process.Wait(elapsed < processOptions.timeoutMs ? processOptions.timeoutMs - elapsed : 0);
    run.exitCode = result.exitCode;
    run.timedOut = result.timedOut;
    run.elapsedMs = GetTickCount() - start;
    // The crash sink runs while the crashed process waits for it: give a late
    // report a moment to land.
    if (IsCrashExitCode(run.exitCode))
        Sleep(200);
    run.crashReports = CrashReports();
    return run;
}

} // namespace

CrashSink::CrashSink() {
    const std::wstring debugger = L"\"" + BinDir() + L"qz-crash-sink.exe\" %ld %ld";
    const struct {
        const wchar_t* name;
        std::wstring value;
    } values[] = {{L"Debugger", debugger}, {L"Auto", L"1"}};
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        RegistryKey key;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAeDebugKey, 0, nullptr, 0, KEY_READ | KEY_WRITE | view,
                            nullptr, &key.key, nullptr) != ERROR_SUCCESS)
            continue;
        for (const auto& value : values) {
            SavedValue saved{view, value.name, false, 0, {}};
            DWORD size = 0;
            if (RegQueryValueExW(key.key, value.name, nullptr, &saved.type, nullptr, &size) ==
                ERROR_SUCCESS) {
                saved.data.resize(size);
                saved.present = RegQueryValueExW(key.key, value.name, nullptr, &saved.type,
                                                 saved.data.empty() ? nullptr : saved.data.data(),
                                                 &size) == ERROR_SUCCESS;
            }
            m_saved.push_back(saved);
            RegSetValueExW(key.key, value.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.value.c_str()),
                           static_cast<DWORD>((value.value.size() + 1) * sizeof(wchar_t)));
        }
    }
    CreateDirectoryW(CrashReportDir().c_str(), nullptr);
}

CrashSink::~CrashSink() {
    for (const SavedValue& saved : m_saved) {
        RegistryKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAeDebugKey, 0, KEY_WRITE | saved.view, &key.key) !=
            ERROR_SUCCESS)
            continue;
        if (saved.present)
            RegSetValueExW(key.key, saved.name, 0, saved.type,
                           saved.data.empty() ? nullptr : saved.data.data(),
                           static_cast<DWORD>(saved.data.size()));
        else
            RegDeleteValueW(key.key, saved.name);
    }
}

std::wstring CrashReportDir() {
    return BinDir() + L"crash-reports\\";
}

std::vector<std::wstring> CrashReports() {
    std::vector<std::wstring> reports;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((CrashReportDir() + L"*.txt").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return reports;
    do {
        const std::string bytes = ReadFileBytes(CrashReportDir() + data.cFileName);
        reports.emplace_back(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return reports;
}

void ClearCrashReports() {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((CrashReportDir() + L"*.txt").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        DeleteFileW((CrashReportDir() + data.cFileName).c_str());
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

bool IsCrashExitCode(DWORD code) {
    // NTSTATUS error codes (access violation, stack overflow, fail-fast...),
    // abort() (3) and the kill of a stuck or crashed run (0xDEAD).
    return code >= 0xC0000000u || code == 3 || code == 0xDEADu || code == 0x40000015u;
}

std::string GuardedRun::Describe() const {
    std::string text = "exit code " + std::to_string(exitCode) + (timedOut ? " (timed out)" : "") + ", " +
                       std::to_string(elapsedMs) + " ms";
    for (const auto& window : unexpectedWindows)
        text += "\n  window: " + ToUtf8(window);
    for (const auto& report : crashReports)
        text += "\n  crash: " + ToUtf8(report);
    return text;
}

GuardedRun RunSetupGuarded(const std::wstring& dir, const std::vector<std::wstring>& arguments,
                           const GuardedOptions& options) {
    std::wstring tail;
    for (const auto& argument : arguments) {
        if (!tail.empty())
            tail += L" ";
        tail += QuoteArgument(argument);
    }
    return RunSetupRawGuarded(dir, tail, options);
}

GuardedRun RunProgramGuarded(const std::wstring& exe, const std::wstring& tail,
                             const GuardedOptions& options) {
    return RunGuardedImpl(exe, tail, options.process.workingDir, options);
}

GuardedRun RunSetupRawGuarded(const std::wstring& dir, const std::wstring& tail,
                              const GuardedOptions& options) {
    return RunGuardedImpl(InstallSetupExe(dir), tail, dir, options);
}

PreparedPlace ReadOnlyPlace() {
    PreparedPlace place;
    const std::wstring status = PreparedStatus(L"readonly");
    place.available = status.compare(0, 2, L"ok") == 0;
    place.path = PreparedRoot() + L"ro\\";
    place.why = status;
    return place;
}

PreparedPlace FullDiskDrive() {
    PreparedPlace place;
    const std::wstring status = PreparedStatus(L"fulldrive");
    place.available = status.compare(0, 3, L"ok ") == 0;
    if (place.available)
        place.path = status.substr(3) + L"\\"; // "ok R:"
    place.why = status;
    return place;
}

bool FillDriveLeaving(const PreparedPlace& drive, unsigned pages) {
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((drive.path + L"*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((drive.path + data.cFileName).c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    const std::wstring filler = drive.path + L"filler";
    const UniqueFileHandle file(CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return false;
    const std::string page(4096, 'f');
    DWORD written = 0;
    while (WriteFile(file.get(), page.data(), static_cast<DWORD>(page.size()), &written, nullptr) &&
           written != 0) {
    }
    // Full now: not one more byte goes in.
    if (WriteFile(file.get(), page.data(), 1, &written, nullptr) && written != 0)
        return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 4096LL * pages)
        return false;
    size.QuadPart -= 4096LL * pages;
    return SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN) && SetEndOfFile(file.get());
}

std::string MutateBytes(const std::string& input, SeededRandom& random) {
    static const unsigned char kInteresting[] = {0x00, 0xFF, 0x7F, 0x80, 0xC0, 0xC3, 0xE0, 0xED, 0xEF, 0xF0,
                                                 0xF4, 0xF8, 0xFE, 0xBF, 0x1A, '\r', '\n', '=',  '#',  ' '};
    std::string data = input;
    const unsigned operations = 1 + random.Below(4);
    for (unsigned n = 0; n < operations; ++n) {
        const std::uint32_t size = static_cast<std::uint32_t>(data.size());
        const std::uint32_t at = random.Below(size + 1);
        switch (random.Below(7)) {
        case 0:
            if (size)
                data[at % size] = static_cast<char>(data[at % size] ^ (1u << random.Below(8)));
            break;
        case 1:
            if (size)
                data[at % size] = static_cast<char>(kInteresting[random.Below(sizeof kInteresting)]);
            break;
        case 2: {
            std::string inserted(1 + random.Below(8), '\0');
            for (char& c : inserted)
                c = static_cast<char>(random.OneIn(2) ? kInteresting[random.Below(sizeof kInteresting)]
                                                      : random.Below(256));
            data.insert(at, inserted);
            break;
        }
        case 3:
            data.erase(at, 1 + random.Below(16));
            break;
        case 4:
            if (random.OneIn(3))
                data.resize(at);
            break;
        case 5:
            if (size) {
                const std::uint32_t from = random.Below(size);
                data.insert(at, data.substr(from, 1 + random.Below(64)));
            }
            break;
        default:
            if (size >= 4) {
                static const std::uint32_t kWords[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u,
                                                       0u,          0xFFFFFFFEu, 0x1000u};
                const std::uint32_t word = kWords[random.Below(6)];
                const std::uint32_t where = random.Below(size - 3);
                for (int b = 0; b < 4; ++b)
                    data[where + b] = static_cast<char>((word >> (8 * b)) & 0xFF);
            }
            break;
        }
    }
    return data;
}

std::string Utf16LeBytes(const std::wstring& text) {
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (const wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    return bytes;
}

} // namespace qztest

namespace qztest {

const wchar_t kOpeningLine[] = L"QZSETUP:BOOTSTRAP:INFO::Bootstrapper logging initiated.\r\n";
const wchar_t kClosingLine[] = L"QZSETUP:BOOTSTRAP:INFO::Bootstrapper logging completed.\r\n";

BootstrapLog ReadBootstrapLog(const std::wstring& path) {
    BootstrapLog log;
    log.exists = PathExists(path);
    if (!log.exists)
        return log;
    log.bytes = ReadFileBytes(path);
    log.installerWrote = log.bytes.find("=== Logging started") != std::string::npos;
    if (!log.installerWrote)
        log.lines = ReadLogLines(path);
    return log;
}

std::wstring LogLine(const wchar_t* kind, const std::wstring& code, const std::wstring& text) {
    return std::wstring(L"QZSETUP:BOOTSTRAP:") + kind + L":" + code + L":" + text + L"\r\n";
}

std::wstring ResultLogLine(int code, const std::wstring& text) {
    return LogLine(code == 0 ? L"INFO" : L"ERR", std::to_wstring(static_cast<unsigned>(code)), text);
}

std::wstring BannerLine(const std::wstring& packagePath, const std::wstring& productName,
                        const std::wstring& version) {
    const std::wstring rule(79, L'*');
    return LogLine(L"INFO", L"",
                   L"\n" + rule + L"\nCommencing installation of " + packagePath +
                       L" package.\nProduct name: " + productName + L".\nProduct version: " + version +
                       L".\n" + rule);
}

std::string ExitFileText(int normalised, int code, const std::wstring& text) {
    std::string onDisk;
    for (char c : ToUtf8(text)) {
        if (c == '\n')
            onDisk += '\r';
        onDisk += c;
    }
    return std::to_string(normalised) + "\r\n" + std::to_string(code) + "\r\n" + onDisk;
}

std::string CheckLogEnd(const BootstrapLog& log, const std::wstring& before, const std::wstring& after) {
    if (!log.exists)
        return "no log file";
    const std::string head = Utf16LeBytes(std::wstring(1, wchar_t(0xFEFF)) + before);
    const std::string tail = Utf16LeBytes(after);
    const std::string& bytes = log.bytes;
    if (bytes.size() < tail.size() || bytes.compare(bytes.size() - tail.size(), tail.size(), tail) != 0)
        return "the log does not end with the expected lines; its last bytes: " +
               bytes.substr(bytes.size() > 600 ? bytes.size() - 600 : 0);
    const std::size_t bodyEnd = bytes.size() - tail.size();
    // Wine's installer writes ANSI text from offset 0; the bootstrapper's
    // UTF-16 text has a NUL in every character it writes here. What the
    // installer wrote therefore ends before the first NUL (or one byte later,
    // when a character's first byte follows it directly).
    std::size_t overwritten = 0;
    if (log.installerWrote) {
        const std::size_t firstNul = bytes.find('\0');
        overwritten = firstNul == std::string::npos ? bodyEnd : std::min(firstNul + 1, bodyEnd);
    }
    if (overwritten < head.size()) {
        if (bodyEnd != head.size())
            return "the log holds " + std::to_string(bodyEnd) + " bytes before the result, expected " +
                   std::to_string(head.size());
        if (bytes.compare(overwritten, head.size() - overwritten, head, overwritten, std::string::npos) != 0)
            return "lines written before the fault were lost or changed";
    }
    return std::string();
}

} // namespace qztest
