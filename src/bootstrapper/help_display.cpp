#include "bootstrapper/help_display.h"

#include <fstream>
#include <ios>
#include <iostream>
#include <iterator>
#include <stdexcept>

#include "system/errors.h"
#include "diag/messages.h"
#include "diag/text_conversion.h"
#include "system/path_helpers.h"

int DisplayHelp(const std::wstring& helpFile) {
    std::wstring text;
    if (!helpFile.empty() && FileExists(helpFile)) {
        // Binary: the file's own line ends reach the viewer as they are.
        std::ifstream file(helpFile.c_str(), std::ios_base::in | std::ios_base::binary);
        if (!file.is_open())
            ThrowRuntimeError(std::runtime_error("Failed to open help file."));
        const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        text = DecodeUtf8(bytes);
        if (!text.empty() && text[0] == L'\xFEFF')
            text.erase(0, 1);
    } else {
        LoadResourceMessage(IDS_USAGE, text);
    }
    std::wcout.write(text.data(), static_cast<std::streamsize>(text.size()));
    return 0;
}
