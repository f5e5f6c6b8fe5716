#include "language/lang_catalogue.h"

#include <cwchar>
#include <utility>

#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "diag/messages.h"
#include "msi/transform_reader.h"
#include "system/machine_queries.h"

WORD ParseLanguageValue(const std::wstring& text) {
    // Leading blanks are skipped and reading stops at the first non-digit;
    // a value without digits is 0.
    return static_cast<WORD>(std::wcstoul(text.c_str(), nullptr, 10) & 0xFFFF);
}

LangItems LoadLangTransforms(const std::wstring& directory, std::vector<std::wstring>* passedOver,
                             std::vector<HeldFile>* held, const std::wstring* package) {
    FileList names;
    LoadFileList(directory + L"*.mst", names);

    LangItems catalogue;
    for (const auto& name : names) {
        const std::wstring path = directory + name;
        HeldFile file = HeldFile::Hold(path, L" Fnc : LoadLangTransforms; Line : 24; ");
        std::wstring value;
        try {
            _GetTranPropVal(path, L"ProductLanguage", value);
        } catch (const MSIException& e) {
            if (!package)
                throw;
            // The run ends here: the message says which file it was.
            ThrowTransformFailure(e.GetError(), path, *package, e.GetError(),
                                  L" Fnc : LoadLangTransforms; Line : 26; ");
        }
        file.Confirm(L" Fnc : LoadLangTransforms; Line : 27; ");

        std::wstring text;
        if (value.empty()) {
            FormatResourceMessage(IDS_NOT_LANGUAGE_TRANSFORM, text, path);
            WriteLogLine(text, LOG_INFO);
            if (passedOver)
                passedOver->push_back(path);
            continue;
        }
        const WORD langId = ParseLanguageValue(value);
        FormatResourceMessage(IDS_FOUND_LANGUAGE_TRANSFORM, text, path, static_cast<unsigned>(langId));
        WriteLogLine(text, LOG_INFO);
        catalogue.push_back(LangItem{path, langId});
        if (held)
            held->push_back(std::move(file));
    }
    return catalogue;
}
