#include "system/machine_queries.h"

#include <windows.h>

#include "system/errors.h"
#include "system/win_owners.h"

namespace {

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);

template <class Fn> Fn KernelFunction(HMODULE kernel, const char* name) {
    // The documented way to reach an optional export: the cast goes through
    // the generic procedure type.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, name)));
}

// The processors the detection knows: x64 and Itanium, and x86 for the rest.
DWORD ProcessorOf(WORD architecture) {
    switch (architecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
    case PROCESSOR_ARCHITECTURE_IA64:
        return architecture;
    default:
        return PROCESSOR_ARCHITECTURE_INTEL;
    }
}

// How the messages and the redistributable's file name call a processor.
struct ProcessorNames {
    DWORD processor;
    const wchar_t* displayName;
    const wchar_t* redistributableSuffix;
};

const ProcessorNames g_processorNames[] = {
    {PROCESSOR_ARCHITECTURE_INTEL, L"x86", L"x86"},
    {PROCESSOR_ARCHITECTURE_IA64, L"Itanium", L"IA64"},
    {PROCESSOR_ARCHITECTURE_AMD64, L"AMD64", L"x64"},
    {PROCESSOR_ARCHITECTURE_ARM64, L"ARM64", L"ARM64"},
};

// Every processor not in the table goes by the names of x86.
const ProcessorNames& NamesOf(DWORD processor) {
    for (const ProcessorNames& names : g_processorNames)
        if (names.processor == processor)
            return names;
    return g_processorNames[0];
}

// The native machine, from IsWow64Process2 where kernel32 has it.
USHORT NativeMachine() {
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto isWow64Process2 =
        kernel ? KernelFunction<IsWow64Process2Fn>(kernel, "IsWow64Process2") : nullptr;
    USHORT process = 0;
    USHORT native = 0;
    if (!isWow64Process2 || !isWow64Process2(GetCurrentProcess(), &process, &native))
        return 0;
    return native;
}

DWORD ReportedProcessor() {
#ifdef _WIN64
    // A 64-bit program never runs under WOW64: the system it runs on is the
    // machine, and the WOW64 test below would wrongly report x86 here.
    SYSTEM_INFO native{};
    GetNativeSystemInfo(&native);
    return ProcessorOf(native.wProcessorArchitecture);
#else
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel)
        return PROCESSOR_ARCHITECTURE_INTEL;
    const auto isWow64Process = KernelFunction<IsWow64ProcessFn>(kernel, "IsWow64Process");
    const auto getNativeSystemInfo = KernelFunction<GetNativeSystemInfoFn>(kernel, "GetNativeSystemInfo");
    if (!isWow64Process || !getNativeSystemInfo)
        return PROCESSOR_ARCHITECTURE_INTEL;

    BOOL wow64 = FALSE;
    if (!isWow64Process(GetCurrentProcess(), &wow64) || !wow64)
        return PROCESSOR_ARCHITECTURE_INTEL;

    SYSTEM_INFO info{};
    getNativeSystemInfo(&info);
    return ProcessorOf(info.wProcessorArchitecture);
#endif
}

} // namespace

MachineFacts GetMachineFacts() {
    MachineFacts machine;
    machine.nativeMachine = NativeMachine();
    machine.reportedProcessor = ReportedProcessor();
    return machine;
}

RunFacts GetRunFacts() {
    RunFacts facts;
    facts.machine = GetMachineFacts();
    facts.userLanguage = LANGIDFROMLCID(GetUserDefaultLCID());
    return facts;
}

DWORD NativeProcessorOf(const MachineFacts& machine) {
    return machine.nativeMachine == IMAGE_FILE_MACHINE_ARM64 ? PROCESSOR_ARCHITECTURE_ARM64
                                                             : machine.reportedProcessor;
}

DWORD GetNativeProcessor() {
    return NativeProcessorOf(GetMachineFacts());
}

const wchar_t* ProcessorDisplayName(DWORD processor) {
    return NamesOf(processor).displayName;
}

const wchar_t* RedistributableSuffix(DWORD processor) {
    return NamesOf(processor).redistributableSuffix;
}

FileList& LoadFileList(const std::wstring& pattern, FileList& files) {
    WIN32_FIND_DATAW data;
    const UniqueFindHandle find(FindFirstFileW(pattern.c_str(), &data));
    if (!find.valid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            return files;
        ThrowWinException(error, L" Fnc : LoadFileList; Line : 54; ");
    }
    do
        files.push_back(data.cFileName);
    while (FindNextFileW(find.get(), &data));
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES)
        ThrowWinException(error, L" Fnc : LoadFileList; Line : 44; ");
    return files;
}
