#include "install/message_handler.h"

DWORD g_lastInstallerError = 0;
std::wstring g_lastInstallerMessage;

// Provisional: takes no action on installer messages yet.
int WINAPI InstallerMessageHandler(LPVOID, UINT, LPCWSTR) { return 0; }
