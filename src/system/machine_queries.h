// Queries of the machine: its processor, and directory listings.
#pragma once
#include <windows.h>

#include <list>
#include <string>

using FileList = std::list<std::wstring>;

// What the system tells this program about the machine.
struct MachineFacts {
    // The native machine as IsWow64Process2 gives it (IMAGE_FILE_MACHINE_ARM64,
    // IMAGE_FILE_MACHINE_AMD64, ...); 0 where the system has no such call or it fails.
    USHORT nativeMachine = 0;
    // 0 (x86), 6 (Itanium) or 9 (x64) as detected from IsWow64Process and
    // GetNativeSystemInfo: on an Arm64 machine, what the emulation shows.
    DWORD reportedProcessor = PROCESSOR_ARCHITECTURE_INTEL;
};

MachineFacts GetMachineFacts();

// The facts a run decides by, taken once at its start: this machine's, or
// those a plan for another machine assumes.
struct RunFacts {
    MachineFacts machine;
    LANGID userLanguage = 0; // the user's default language (GetUserDefaultLCID)
    // Assumed for another machine: its product is taken as not installed,
    // and this machine's installer is not asked about it.
    bool assumed = false;
    bool languageAssumed = false; // the user language was given with the processor
};

// This machine's facts.
RunFacts GetRunFacts();

// The machine's processor: 12 (Arm64) where the native machine is Arm64,
// otherwise the reported processor.
DWORD NativeProcessorOf(const MachineFacts& machine);

// 0 (x86), 6 (Itanium), 9 (x64) or 12 (Arm64): the processor of the machine
// the bootstrapper runs on. The 32-bit program asks the system only when it
// runs under WOW64 (else the machine is x86); the 64-bit program asks it
// directly. Only IsWow64Process2 tells an Arm64 machine.
DWORD GetNativeProcessor();

// The name of a processor as the messages show it: "AMD64", "Itanium",
// "ARM64" or "x86" (for every other value).
const wchar_t* ProcessorDisplayName(DWORD processor);

// The processor's part of a runtime redistributable's file name: "x64",
// "IA64", "ARM64" or "x86" (for every other value).
const wchar_t* RedistributableSuffix(DWORD processor);

// Appends the bare names of the entries matching `pattern` (a directory
// followed by a wildcard), directories included, in listing order.
FileList& LoadFileList(const std::wstring& pattern, FileList& files);
