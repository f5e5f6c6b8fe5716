// For the size analysis only (never run): what the static C++ runtime weighs
// in a program that uses strings, containers and exceptions as the
// bootstrapper does, but no standard streams or locales. Set beside
// qz-bench-empty-runtime.exe, which starts the streams, it shows their share.
#include <windows.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    try {
        std::vector<std::wstring> words{commandLine};
        std::map<std::wstring, std::wstring> settings{{L"QZ_SETUP_MODE", words.front()}};
        if (settings.size() > 1)
            throw std::runtime_error("never");
        return static_cast<int>(settings.begin()->second.size());
    } catch (const std::exception&) {
        return 1;
    }
}
