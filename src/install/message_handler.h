// Recovers the installer's error number from the error messages it reports.
#pragma once
#include <windows.h>

#include <string>

extern DWORD g_lastInstallerError;
extern std::wstring g_lastInstallerMessage;

// The installer's external user-interface callback (error messages only).
int WINAPI InstallerMessageHandler(LPVOID context, UINT messageType, LPCWSTR message);
