// Questions about a package file answered without installing it.
#pragma once
#include <windows.h>
#include <msi.h>

#include <string>

#include "system/smart_buffer.h"
#include "msi/database.h"

namespace QZ {
namespace MSInstaller {

// Platform value of a package whose Template names no known platform.
constexpr DWORD PLATFORM_UNRECOGNISED = 0xFFFF;

void GetPckgProperty(const std::wstring& packagePath, const std::wstring& name, std::wstring& value);

// The same, for a caller that asks one package several questions: the package
// is opened once (read-only) and the database is closed when the owner goes.
// Raises as GetPckgProperty does when the package cannot be opened.
MsiHandle OpenPckgDatabase(const std::wstring& packagePath);
// How many times this process has opened a package database (through
// OpenPckgDatabase, which every package open goes through), so that a test
// can tell how often a run opens its package.
unsigned long PckgDatabaseOpenCount();
void GetPckgProperty(const MsiHandle& database, const std::wstring& name, std::wstring& value);
void _GetPckgSummProp(MSIHANDLE database, const std::wstring& packagePath, UINT propertyId,
                      smart_buffer<wchar_t, 100>& value);
// 0 Intel, 9 x64, 6 Intel64, 12 Arm64, PLATFORM_UNRECOGNISED otherwise.
DWORD GetPckgPlatform(MSIHANDLE database, const std::wstring& packagePath);

} // namespace MSInstaller
} // namespace QZ
