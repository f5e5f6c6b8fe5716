// The SHA-256 digest of a file, by the system's own cryptography (CNG,
// bcrypt.dll from the system directory).
#pragma once
#include <windows.h>

#include <string>

// The SHA-256 of the whole file at `path` (read through, shared for reading
// with others), as 64 lower-case hexadecimal digits. False, with the system's
// error, when the file cannot be opened or read, or the hash cannot be made;
// ERROR_NOT_SUPPORTED for a pipe or a device.
bool Sha256OfFile(const std::wstring& path, std::string& digest, DWORD& error);
