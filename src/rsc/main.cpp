// qz-rsc: the resource-module builder. A translator dumps the catalogue of
// qz-setup.exe into a message file, translates it, and builds the resource
// module qz-setup.rsc from it; the build checks the translation first.
#include <windows.h>

#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "qz-version.h"
#include "rsc/catalogue_check.h"
#include "rsc/file_io.h"
#include "rsc/message_file.h"
#include "rsc/module_writer.h"
#include "rsc/version_resource.h"
#include "system/dll_search.h"
#include "system/win_owners.h"

namespace {

enum ExitCode : int { kDone = 0, kRefused = 1, kUsage = 2, kSystem = 3 };

const char* const kHelp =
    "qz-rsc " QZ_VERSION_TEXT
    " - builds qz-setup.rsc, the translated messages of qz-setup.exe " QZ_VERSION_TEXT ".\n"
    "\n"
    "Usage:\n"
    "  qz-rsc dump QZ-SETUP-EXE MESSAGE-FILE\n"
    "      Writes the built-in messages of that qz-setup.exe, every language, to the\n"
    "      message file: the starting point of a translation.\n"
    "  qz-rsc build MESSAGE-FILE RESOURCE-MODULE\n"
    "      Checks the message file against the catalogue of qz-setup.exe " QZ_VERSION_TEXT "\n"
    "      and writes the resource module (name it qz-setup.rsc and put it beside\n"
    "      qz-setup.exe). Nothing is written when the file is refused.\n"
    "  qz-rsc --help\n"
    "\n"
    "The message file is UTF-8 text, one message per line: LANGUAGE ID TEXT, the\n"
    "language id and the message id in decimal, each followed by one blank. In the\n"
    "text, \\n is a line feed, \\r a carriage return, \\s a blank and \\\\ a backslash.\n"
    "Lines starting with # are comments.\n"
    "\n"
    "Keep every language of the dump in the file: Windows takes a message in any\n"
    "language the module has before it looks at the built-in messages, so a module\n"
    "with German alone shows German to every user.\n"
    "\n"
    "Use the qz-rsc of the same version as qz-setup.exe: it checks against its own\n"
    "copy of the catalogue.\n"
    "\n"
    "Exit codes: 0 done; 1 input refused (the reason and the line are printed);\n"
    "2 usage (also when the output would replace the input); 3 the system refused (a file\n"
    "that cannot be read or written).\n";

void Print(std::FILE* stream, const std::string& text) {
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
}

std::string SystemText(DWORD error) {
    UniqueLocalMemory text;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<wchar_t*>(text.put()), 0, nullptr);
    std::wstring message = length ? std::wstring(static_cast<const wchar_t*>(text.get()), length)
                                  : L"error " + std::to_wstring(error);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return ToUtf8(message) + " (" + std::to_string(error) + ")";
}

int SystemRefused(const std::wstring& path, const char* what, DWORD error) {
    Print(stderr, "qz-rsc: " + ToUtf8(path) + ": " + what + ": " + SystemText(error) + "\n");
    return kSystem;
}

// Whether loading a program as data failed because of the file itself (it
// is no program whose resources can be read), rather than because the
// system refused it (rights, another program holding it, memory).
bool IsNotAProgram(DWORD error) {
    switch (error) {
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_BAD_FORMAT:
    case ERROR_INVALID_EXE_SIGNATURE:
    case ERROR_EXE_MARKED_INVALID:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
    case ERROR_INVALID_DATA:
    case ERROR_FILE_CORRUPT:
    case ERROR_RESOURCE_DATA_NOT_FOUND:
    case ERROR_RESOURCE_TYPE_NOT_FOUND:
        return true;
    default:
        return false;
    }
}

int Dump(const std::wstring& program, const std::wstring& output) {
    {
        // Opened as the loader opens it, so that the system's refusals (no
        // such file, no right, another program holding it) are told as such.
        const UniqueFileHandle file(CreateFileW(program.c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid())
            return SystemRefused(program, "cannot be read", GetLastError());
    }
    const UniqueModule module(LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module.valid()) {
        const DWORD error = GetLastError();
        if (!IsNotAProgram(error))
            return SystemRefused(program, "cannot be read", error);
        Print(stderr, "qz-rsc: " + ToUtf8(program) +
                          ": not a program whose messages can be read: " + SystemText(error) + "\n");
        return kRefused;
    }
    const std::vector<TableMessage> messages = ModuleMessages(module.get());
    if (messages.empty()) {
        Print(stderr, "qz-rsc: " + ToUtf8(program) + ": holds no messages\n");
        return kRefused;
    }
    const std::wstring version = FileVersionOf(module.get());
    std::string ids;
    for (const WORD id : g_idsNotInModule)
        ids += (ids.empty() ? "" : ", ") + std::to_string(id);
    const std::vector<std::string> header = {
        "Messages of qz-setup.exe " + (version.empty() ? std::string("unknown") : ToUtf8(version)) +
            ", written by qz-rsc " QZ_VERSION_TEXT ".",
        "One message per line: LANGUAGE ID TEXT (decimal ids, each followed by one blank).",
        "In the text: \\n line feed, \\r carriage return, \\s blank, \\\\ backslash.",
        "Translate the texts; keep every %s, %u and %i in its order. Keep every language:",
        "Windows takes a message in any language of the module before the built-in one.",
        "Build with: qz-rsc build THIS-FILE qz-setup.rsc",
        "Left out, because qz-setup.exe never looks them up in a resource module: " + ids + ".",
    };
    DWORD error = ERROR_SUCCESS;
    if (!WriteWholeFile(output, WriteMessageFile(messages, header), error))
        return SystemRefused(output, "cannot be written", error);
    Print(stdout,
          "qz-rsc: wrote " + std::to_string(messages.size()) + " messages to " + ToUtf8(output) + "\n");
    return kDone;
}

int Build(const std::wstring& input, const std::wstring& output) {
    std::string bytes;
    DWORD error = ERROR_SUCCESS;
    if (!ReadWholeFile(input, bytes, error))
        return SystemRefused(input, "cannot be read", error);

    std::vector<TableMessage> messages;
    std::vector<unsigned> lines;
    MessageFileError refusal;
    const std::vector<TableMessage> catalogue = ReadStringTables(GetModuleHandleW(nullptr));
    if (!ReadMessageFile(bytes, messages, lines, refusal) ||
        !CheckMessages(messages, lines, catalogue, refusal)) {
        const std::string where = refusal.line ? ":" + std::to_string(refusal.line) : std::string();
        Print(stderr, "qz-rsc: " + ToUtf8(input) + where + ": " + refusal.reason + "; nothing written\n");
        return kRefused;
    }
    if (!WriteResourceModule(output, messages, error))
        return SystemRefused(output, "cannot be written", error);
    Print(stdout,
          "qz-rsc: wrote " + std::to_string(messages.size()) + " messages to " + ToUtf8(output) + "\n");
    return kDone;
}

int Run(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (argc == 2 && (command == L"--help" || command == L"-h" || command == L"/?")) {
        Print(stdout, kHelp);
        return kDone;
    }
    if (argc == 4 && (command == L"dump" || command == L"build") && IsSameFile(argv[2], argv[3])) {
        // A slip of the keyboard must not put a module over a translation, or
        // a message file over the program.
        Print(stderr, "qz-rsc: the output file would replace the input file " + ToUtf8(argv[2]) +
                          "; nothing written\n");
        return kUsage;
    }
    if (argc == 4 && command == L"dump")
        return Dump(argv[2], argv[3]);
    if (argc == 4 && command == L"build")
        return Build(argv[2], argv[3]);
    Print(stderr, std::string("qz-rsc: unknown command line; the usage is:\n\n") + kHelp);
    return kUsage;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    // Before anything can load a DLL by bare name from this program's folder,
    // often a translator's downloads folder.
    RestrictDllSearch();
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        Print(stderr, "qz-rsc: " + SystemText(ERROR_NOT_ENOUGH_MEMORY) + "; nothing written\n");
    } catch (const std::exception& e) {
        Print(stderr, std::string("qz-rsc: ") + e.what() + "; nothing written\n");
    }
    return kSystem;
}
