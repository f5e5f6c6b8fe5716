// The string tables of a module, read and made: the messages a resource
// module holds, by language and id.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

// One string of a string table.
struct TableMessage {
    WORD language = 0;
    WORD id = 0;
    std::wstring text;
};

// Every non-empty string of `module`'s string tables, ordered by language,
// then id. An allocation failure is raised once the system's enumeration has
// returned, never through it.
std::vector<TableMessage> ReadStringTables(HMODULE module);

// The string-table resources that hold `messages`: for each block of 16 ids
// (resource name id / 16 + 1) and language, the block's data, each string a
// length (in characters) followed by its characters.
std::map<std::pair<WORD, WORD>, std::vector<WCHAR>>
MakeStringBlocks(const std::vector<TableMessage>& messages);
