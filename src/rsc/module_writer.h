// Writing a resource module: the template module this program carries, with
// string tables put in.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "rsc/string_tables.h"

// Writes `path` as a resource module that holds `messages`. The module is
// made beside `path` under another name and takes its place only when it is
// whole: on failure `path` is as it was. False with the system's error code
// in `error` when a file could not be written.
bool WriteResourceModule(const std::wstring& path, const std::vector<TableMessage>& messages, DWORD& error);
