#include "support/process_runner.h"

#include <algorithm>
#include <cwctype>
#include <stdexcept>

#include "support/test_env.h"
#include "system/win_owners.h"

namespace qztest {
namespace {

struct EnvironmentStrings {
    wchar_t* block = GetEnvironmentStringsW();
    ~EnvironmentStrings() {
        if (block)
            FreeEnvironmentStringsW(block);
    }
};

std::wstring Upper(std::wstring text) {
    for (auto& c : text)
        c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

// The inherited environment with the options applied, as a CreateProcessW block.
std::wstring BuildEnvironment(const ProcessOptions& options) {
    std::vector<std::wstring> entries;
    EnvironmentStrings current;
    for (const wchar_t* p = current.block; p && *p; p += wcslen(p) + 1)
        entries.emplace_back(p);
    auto nameOf = [](const std::wstring& entry) {
        const size_t eq = entry.find(L'=', 1); // entries like "=C:=C:\" start with '='
        return Upper(entry.substr(0, eq));
    };
    auto erase = [&](const std::wstring& name) {
        const std::wstring key = Upper(name);
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const std::wstring& e) { return nameOf(e) == key; }),
                      entries.end());
    };
    for (const auto& name : options.unsetEnv)
        erase(name);
    for (const auto& pair : options.setEnv) {
        erase(pair.first);
        entries.push_back(pair.first + L"=" + pair.second);
    }
    std::sort(entries.begin(), entries.end(),
              [&](const std::wstring& a, const std::wstring& b) { return nameOf(a) < nameOf(b); });
    std::wstring block;
    for (const auto& e : entries) {
        block += e;
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

} // namespace

std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    for (size_t i = 0;; ++i) {
        size_t backslashes = 0;
        while (i < argument.size() && argument[i] == L'\\') {
            ++i;
            ++backslashes;
        }
        if (i == argument.size()) {
            quoted.append(backslashes * 2, L'\\');
            break;
        }
        if (argument[i] == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
            quoted.push_back(L'"');
        } else {
            quoted.append(backslashes, L'\\');
            quoted.push_back(argument[i]);
        }
    }
    quoted.push_back(L'"');
    return quoted;
}

RunningProcess::RunningProcess(const std::wstring& exe, const std::wstring& argumentsTail,
                               const ProcessOptions& options) {
    std::wstring commandLine = QuoteArgument(exe);
    if (!argumentsTail.empty())
        commandLine += L" " + argumentsTail;
    std::wstring environment = BuildEnvironment(options);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    // The program's console output, into a file the child inherits.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const UniqueFileHandle output(options.outputFile.empty()
                                      ? INVALID_HANDLE_VALUE
                                      : CreateFileW(options.outputFile.c_str(), GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!options.outputFile.empty() && !output.valid())
        throw std::runtime_error("cannot create " + ToUtf8(options.outputFile));
    if (!options.desktop.empty())
        si.lpDesktop = const_cast<wchar_t*>(options.desktop.c_str());
    if (output.valid()) {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = output.get();
        si.hStdError = output.get();
    }
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, output.valid(),
                        CREATE_UNICODE_ENVIRONMENT, &environment[0],
                        options.workingDir.empty() ? nullptr : options.workingDir.c_str(), &si, &m_pi)) {
        const DWORD error = GetLastError();
        // Wine gives this when the new process ended before it was started.
        const char* hint = error == ERROR_INTERNAL_ERROR
                               ? " (the process ended while Wine started it: Wine's own messages, if any, "
                                 "are in the test's output)"
                               : "";
        throw std::runtime_error("CreateProcessW failed for " + ToUtf8(exe) + ": error " +
                                 std::to_string(error) + hint);
    }
}

RunningProcess::~RunningProcess() {
    if (m_pi.hProcess) {
        if (WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(m_pi.hProcess, 0xDEAD);
            WaitForSingleObject(m_pi.hProcess, 5000);
        }
        CloseHandle(m_pi.hProcess);
    }
    if (m_pi.hThread)
        CloseHandle(m_pi.hThread);
}

ProcessResult RunningProcess::Wait(DWORD timeoutMs) {
    ProcessResult result;
    result.processId = m_pi.dwProcessId;
    if (WaitForSingleObject(m_pi.hProcess, timeoutMs) == WAIT_TIMEOUT) {
        result.timedOut = true;
        TerminateProcess(m_pi.hProcess, 0xDEAD);
        WaitForSingleObject(m_pi.hProcess, 5000);
    }
    GetExitCodeProcess(m_pi.hProcess, &result.exitCode);
    return result;
}

ProcessResult RunProgram(const std::wstring& exe, const std::wstring& argumentsTail,
                         const ProcessOptions& options) {
    RunningProcess process(exe, argumentsTail, options);
    return process.Wait(options.timeoutMs);
}

ProcessResult RunProgramArgs(const std::wstring& exe, const std::vector<std::wstring>& arguments,
                             const ProcessOptions& options) {
    std::wstring tail;
    for (const auto& argument : arguments) {
        if (!tail.empty())
            tail += L" ";
        tail += QuoteArgument(argument);
    }
    return RunProgram(exe, tail, options);
}

} // namespace qztest
