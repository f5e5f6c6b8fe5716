// Queries of the machine: its processor, and directory listings.
#pragma once
#include <windows.h>

#include <list>
#include <string>

using FileList = std::list<std::wstring>;

// 0 (x86), 6 (Itanium) or 9 (x64): the processor of the machine the
// bootstrapper runs on. The 32-bit program asks the system only when it runs
// under WOW64 (else the machine is x86); the 64-bit program asks it directly.
DWORD GetNativeProcessor();

// Appends the bare names of the entries matching `pattern` (a directory
// followed by a wildcard), directories included, in listing order.
FileList& LoadFileList(const std::wstring& pattern, FileList& files);
