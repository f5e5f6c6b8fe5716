// Texts put straight into a resource module's string tables, for the tests
// that need a module qz-rsc would refuse (a stale one, say).
#pragma once
#include <windows.h>

#include <map>
#include <string>

namespace qztest {

// Replaces, in the module file `module`, the string-table blocks that hold
// `texts` (id to text) in `language`: the other ids of those blocks are left
// empty. Throws std::runtime_error when the module cannot be changed.
void PutModuleTexts(const std::wstring& module, const std::map<WORD, std::wstring>& texts,
                    LANGID language = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));

// The text of a message from the test program's own string table (the
// program's string tables are linked into every test program).
std::wstring BuiltInText(UINT id);

// That message with its one "%s" replaced by `argument`, as the program formats it.
std::wstring Message(UINT id, const std::wstring& argument);

} // namespace qztest
