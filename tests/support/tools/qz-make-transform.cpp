// Makes a language transform for the demo and the screenshots.
// Usage: qz-make-transform.exe OUTPUT.mst LANGUAGE-ID [PROPERTY=VALUE...]
// The transform sets ProductLanguage and updates the given Property rows.
#include <windows.h>

#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "support/test_env.h"
#include "support/transform_writer.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: qz-make-transform.exe OUTPUT.mst LANGUAGE-ID [PROPERTY=VALUE...]\n");
        return 2;
    }
    std::vector<std::pair<std::wstring, std::wstring>> updates;
    for (int i = 3; i < argc; ++i) {
        const std::wstring pair = argv[i];
        const size_t equals = pair.find(L'=');
        if (equals == std::wstring::npos) {
            std::fwprintf(stderr, L"not PROPERTY=VALUE: %ls\n", argv[i]);
            return 2;
        }
        updates.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
    }
    const unsigned language = static_cast<unsigned>(_wtoi(argv[2]));
    try {
        qztest::WriteLanguageTransform(argv[1], language, updates);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot make the transform: %s\n", e.what());
        return 1;
    }
    std::printf("made %s: language %u\n", qztest::ToUtf8(argv[1]).c_str(), language);
    return 0;
}
