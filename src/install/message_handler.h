// Recovers the installer's error number from the error messages it reports.
#pragma once
#include <windows.h>

#include <string>

extern DWORD g_lastInstallerError;
extern std::wstring g_lastInstallerMessage;

// The installer's external user-interface callback (error messages only).
// Never lets an exception reach the installer; always returns 0.
int WINAPI InstallerMessageHandler(LPVOID context, UINT messageType, LPCWSTR message);

// Whether `message` is the text the installer made from the Error-table
// template `templ`: the literal pieces occur in order, field references and
// the ends of optional sections are skipped. Logs message 122 for each
// delimiter out of place, unless `quiet`. `literalLength`, when given,
// receives the length of the literal text that was searched for (how
// specific the match is).
bool MatchesErrorTemplate(const std::wstring& templ, const std::wstring& message,
                          std::size_t* literalLength = nullptr, bool quiet = false);
