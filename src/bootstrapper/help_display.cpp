#include "bootstrapper/help_display.h"

#include <iostream>

#include "diag/messages.h"

// Provisional: the built-in usage text; help files come with the help work.
int DisplayHelp(const std::wstring&) {
    std::wstring text;
    LoadResourceMessage(IDS_USAGE, text);
    std::wcout.write(text.data(), static_cast<std::streamsize>(text.size()));
    return 0;
}
