// The checks a translation passes before it goes into a resource module:
// against the built-in catalogue of the qz-setup.exe of the same version,
// whose string tables this program carries too.
#pragma once
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "diag/message_rules.h"
#include "rsc/message_file.h"
#include "rsc/string_tables.h"

// The messages of the catalogue that a resource module may override: every
// language of `module`'s string tables, without the ids a module never serves
// (g_idsNotInModule).
std::vector<TableMessage> ModuleMessages(HMODULE module);

// Checks `messages` (read from the lines `lines`) against the catalogue,
// whose English texts are `english`, by the rules qz-setup.exe applies when
// it reads the module: an id the catalogue has and a resource module may
// serve, the English text's conversions in the same order, a text no longer
// than the formatter writes (1,023 characters), except for the plain texts
// (g_plainMessageIds), which never go through the formatter: there any
// percent sign is shown as written. Besides: a language Windows knows (a
// primary-language id alone, such as 7, serves every variant), each language
// and id once, no empty text, and at least one message. False with the
// first error.
bool CheckMessages(const std::vector<TableMessage>& messages, const std::vector<unsigned>& lines,
                   const std::vector<TableMessage>& english, MessageFileError& error);
