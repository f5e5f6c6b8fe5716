// The version resource of a program, read from the resource itself: the
// system's version library is no known DLL, so a copy of it planted beside
// qz-rsc.exe would be loaded in its place.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

// The FileVersion string of a version resource (VS_VERSIONINFO): from the
// US English table (040904B0) when there is one, else from the first table.
// Empty when there is none; the bytes are checked, never read past `size`.
std::wstring FileVersionIn(const void* resource, std::size_t size);

// The same from the version resource of a module loaded as data.
std::wstring FileVersionOf(HMODULE module);
