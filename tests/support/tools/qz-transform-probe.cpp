// Reads the language of each transform named in a list, the way the language
// catalogue does, and records each outcome before going on to the next file.
// A malformed file may crash the installer's own libraries: the caller runs
// this in a child process and restarts it after the file that had no outcome.
// Usage: qz-transform-probe.exe LIST RESULTS FIRST
//   LIST: one path per line (UTF-8); RESULTS: appended, "index outcome" per line,
//   where outcome is "value:<text>", "none" or "error:<number>" (the installer's error).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "system/errors.h"
#include "msi/transform_reader.h"
#include "support/test_env.h"

int wmain(int argc, wchar_t** argv) {
    // Modes that show the test guard what a crash, an abort and a clean end look like.
    if (argc >= 2 && std::wstring(argv[1]) == L"--crash") {
        RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
        return 1;
    }
    if (argc >= 2 && std::wstring(argv[1]) == L"--abort")
        std::abort();
    if (argc >= 3 && std::wstring(argv[1]) == L"--exit")
        return _wtoi(argv[2]);
    if (argc < 4)
        return 2;
    std::vector<std::wstring> paths;
    {
        std::ifstream list(argv[1], std::ios::binary);
        std::string line;
        while (std::getline(list, line))
            if (!line.empty())
                paths.push_back(qztest::FromUtf8(line));
    }
    const std::size_t first = static_cast<std::size_t>(_wtoi(argv[3]));
    for (std::size_t i = first; i < paths.size(); ++i) {
        std::string outcome;
        try {
            std::wstring value;
            outcome = _GetTranPropVal(paths[i], L"ProductLanguage", value) ? "value:" + qztest::ToUtf8(value)
                                                                           : "none";
        } catch (const WinException& e) {
            outcome = "error:" + std::to_string(e.GetError());
        } catch (const std::exception& e) {
            outcome = std::string("exception:") + e.what();
        }
        std::ofstream results(argv[2], std::ios::binary | std::ios::app);
        results << i << ' ' << outcome << '\n';
    }
    return 0;
}
