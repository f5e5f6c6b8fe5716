// Asks Windows whether a signed file is to be trusted (WinVerifyTrust, the
// Authenticode policy, no user interface, no revocation check) and prints
// the answer in hex: 0x00000000 for a signature that holds,
// 0x80096010 (TRUST_E_BAD_DIGEST) for a file changed after signing.
// Usage: qz-verify-trust.exe FILE
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: qz-verify-trust.exe FILE\n");
        return 2;
    }
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = argv[1];
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    std::printf("0x%08lx\n", static_cast<unsigned long>(result));
    return 0;
}
