// The rules a text of the message catalogue keeps when it comes from a
// resource module instead of the built-in table: which messages a module may
// serve at all, which are never formatted, and which formatter conversions a
// formatted text must have. qz-setup.exe applies them when it takes a text
// from qz-setup.rsc, and qz-rsc when it builds one, so that the two agree.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

// The messages taken as they are, never through the formatter: 109, 111,
// 112, 113 and 123. A percent sign in them is shown as written, and their
// length is bounded only by the string table.
extern const WORD g_plainMessageIds[5];

// The messages never taken from a resource module: the log's closing line
// (110), written after the module is released; the viewer's title (114); the
// module's own failure (116) and its texts that were passed over (146); the
// language dialog's title and label (139, 140).
extern const WORD g_idsNotInModule[6];

bool IsPlainMessage(WORD id);
bool IsNeverFromModule(WORD id);

// What the formatter (wvsprintfW) writes at most: its buffer of 1,024
// characters holds the terminator too.
constexpr std::size_t kFormattedTextLimit = 1023;

// What a string table holds: the length of a string is 16 bits.
constexpr std::size_t kStringTableLimit = 0xFFFF;

// The conversions of a text, in order, delimited as the formatter reads
// them: "%", then "-", "#", "0", a width, "." and a precision, one of the
// sizes "l", "h", "w", "I64", "I32" or "I", and a type; a type of c, C, d, i,
// s, S, u, p, x or X takes an argument. Any other character after the sizes
// takes none and is shown as written; the conversion is then what comes
// before it ("%" alone for "% "). "%%" is a percent sign, no conversion. The
// text ends at its end or at a null character, as the formatter's does.
std::vector<std::wstring> MessageConversions(const wchar_t* text, std::size_t length);
std::vector<std::wstring> MessageConversions(const std::wstring& text);

// Whether a translated text may be formatted with the arguments meant for
// the built-in text: both have the same conversions in the same order. Made
// without the heap.
bool ConversionsMatch(const wchar_t* translated, std::size_t translatedLength, const wchar_t* builtIn,
                      std::size_t builtInLength);
