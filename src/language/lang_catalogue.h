// The language transforms (.mst) of the transform directory, with the
// language each one sets.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "system/held_file.h"

// A text (a transform path, or a language's display name) with a language id.
struct LangItem {
    std::wstring text;
    WORD langId = 0;
};

using LangItems = std::vector<LangItem>;

// The primary language of a language id.
inline WORD PrimaryLanguage(WORD langId) {
    return static_cast<WORD>(langId & 0x3FF);
}

// A decimal language value read like wcstoul (base 10), low 16 bits.
WORD ParseLanguageValue(const std::wstring& text);

// Lists the transforms of `directory` (ending in a backslash) in listing order.
// `passedOver`, when given, receives the paths of the ".mst" files that set
// no language, in the same order. Each file is held (HeldFile) while it is
// read; when `held` is given, the holders of the listed transforms go there,
// one for each item and in the same order, and the others are released;
// otherwise all are released. A file that cannot be read as a transform
// raises the installer's MSIException; with `package` (the package the
// transforms are for) a TransformFailure with that error instead, which
// names the file.
LangItems LoadLangTransforms(const std::wstring& directory, std::vector<std::wstring>* passedOver = nullptr,
                             std::vector<HeldFile>* held = nullptr, const std::wstring* package = nullptr);
