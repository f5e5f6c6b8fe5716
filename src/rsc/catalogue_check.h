// The checks a translation passes before it goes into a resource module:
// against the built-in catalogue of the qz-setup.exe of the same version,
// whose string tables this program carries too.
#pragma once
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "rsc/message_file.h"
#include "rsc/string_tables.h"

// The ids the bootstrapper never looks up in a resource module: the viewer's
// title (114), the module's own failure (116), the language dialog's title
// and label (139, 140), and the log's closing line (110), written after the
// module is released.
extern const WORD g_idsNotInModule[5];

// The messages of the catalogue that a resource module may override: every
// language of `module`'s string tables, without the ids above.
std::vector<TableMessage> ModuleMessages(HMODULE module);

// The wvsprintfW conversions of a text in order ("%s", "%u", "%i"; "%%" is a
// literal percent sign and no conversion).
std::vector<std::wstring> Conversions(const std::wstring& text);

// Checks `messages` (read from the lines `lines`) against the catalogue,
// whose English texts are `english`: an id the catalogue has and a resource
// module may override, the English text's conversions in the same order, a
// text no longer than the formatter takes (1,024 characters), except for the
// plain texts (109, 111, 112, 113, 123), which never go through the
// formatter: there any percent sign is shown as written, a language Windows knows (a
// primary-language id alone, such as 7, serves every variant), each language
// and id once, and at least one message. False with the first error.
bool CheckMessages(const std::vector<TableMessage>& messages, const std::vector<unsigned>& lines,
                   const std::vector<TableMessage>& english, MessageFileError& error);
