// Writes language transforms (Wine cannot generate them): each sets the
// package's ProductLanguage to LANGUAGE.
// Usage: qz-make-transform.exe LANGUAGE OUTPUT.mst [OUTPUT.mst...]
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <exception>

#include "support/test_env.h"
#include "support/transform_writer.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: qz-make-transform.exe LANGUAGE OUTPUT.mst [OUTPUT.mst...]\n");
        return 2;
    }
    const unsigned language = static_cast<unsigned>(std::wcstoul(argv[1], nullptr, 10));
    for (int i = 2; i < argc; ++i) {
        try {
            qztest::WriteLanguageTransform(argv[i], language);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "cannot write %s: %s\n", qztest::ToUtf8(argv[i]).c_str(), e.what());
            return 1;
        }
    }
    std::printf("made %d transforms for language %u\n", argc - 2, language);
    return 0;
}
