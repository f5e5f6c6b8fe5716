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

} // namespace qztest
