#include "settings/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <vector>

#include "system/errors.h"
#include "diag/messages.h"
#include "system/win_owners.h"

namespace {

enum class OptionKind {
    Value,          // stores its value; the option form consumes the next argument
    Flag,           // "1" in the option form, the value in the assignment form
    Uninstall,      // always "UNINSTALL"
    Help,           // always "1"
    SuppressReboot, // the value, even empty; never consumes the next argument
};

struct Option {
    const wchar_t* name;
    const wchar_t* variable;
    OptionKind kind;
};

const Option kOptions[] = {
    {L"/l", L"QZ_SETUP_LOG_FILE", OptionKind::Value},
    {L"-l", L"QZ_SETUP_LOG_FILE", OptionKind::Value},
    {L"QZ_SETUP_LOG_FILE", L"QZ_SETUP_LOG_FILE", OptionKind::Value},
    {L"/t", L"QZ_SETUP_TRACE", OptionKind::Flag},
    {L"-t", L"QZ_SETUP_TRACE", OptionKind::Flag},
    {L"QZ_SETUP_TRACE", L"QZ_SETUP_TRACE", OptionKind::Flag},
    {L"/v", L"QZ_SETUP_VERBOSE", OptionKind::Flag},
    {L"-v", L"QZ_SETUP_VERBOSE", OptionKind::Flag},
    {L"QZ_SETUP_VERBOSE", L"QZ_SETUP_VERBOSE", OptionKind::Flag},
    {L"/p", L"QZ_SETUP_PACKAGE_NAME", OptionKind::Value},
    {L"-p", L"QZ_SETUP_PACKAGE_NAME", OptionKind::Value},
    {L"QZ_SETUP_PACKAGE_NAME", L"QZ_SETUP_PACKAGE_NAME", OptionKind::Value},
    {L"/f", L"QZ_SETUP_PACKAGE_FILE", OptionKind::Value},
    {L"-f", L"QZ_SETUP_PACKAGE_FILE", OptionKind::Value},
    {L"QZ_SETUP_PACKAGE_FILE", L"QZ_SETUP_PACKAGE_FILE", OptionKind::Value},
    {L"/d", L"QZ_SETUP_PACKAGE_DIR", OptionKind::Value},
    {L"-d", L"QZ_SETUP_PACKAGE_DIR", OptionKind::Value},
    {L"QZ_SETUP_PACKAGE_DIR", L"QZ_SETUP_PACKAGE_DIR", OptionKind::Value},
    {L"/r", L"QZ_SETUP_RESPONSE_FILE", OptionKind::Value},
    {L"-r", L"QZ_SETUP_RESPONSE_FILE", OptionKind::Value},
    {L"QZ_SETUP_RESPONSE_FILE", L"QZ_SETUP_RESPONSE_FILE", OptionKind::Value},
    {L"/e", L"QZ_SETUP_EXIT_FILE", OptionKind::Value},
    {L"-e", L"QZ_SETUP_EXIT_FILE", OptionKind::Value},
    {L"QZ_SETUP_EXIT_FILE", L"QZ_SETUP_EXIT_FILE", OptionKind::Value},
    {L"/x", L"QZ_SETUP_MODE", OptionKind::Uninstall},
    {L"-x", L"QZ_SETUP_MODE", OptionKind::Uninstall},
    {L"QZ_SETUP_MODE", L"QZ_SETUP_MODE", OptionKind::Value},
    {L"/?", L"QZ_SETUP_HELP", OptionKind::Help},
    {L"-?", L"QZ_SETUP_HELP", OptionKind::Help},
    {L"/help", L"QZ_SETUP_HELP", OptionKind::Help},
    {L"-help", L"QZ_SETUP_HELP", OptionKind::Help},
    {L"/h", L"QZ_SETUP_HELP", OptionKind::Help},
    {L"-h", L"QZ_SETUP_HELP", OptionKind::Help},
    {L"/H", L"QZ_SETUP_HELP_FILE", OptionKind::Value},
    {L"-H", L"QZ_SETUP_HELP_FILE", OptionKind::Value},
    {L"QZ_SETUP_HELP_FILE", L"QZ_SETUP_HELP_FILE", OptionKind::Value},
    {L"QZ_SUPPRESS_REBOOT", L"QZ_SUPPRESS_REBOOT", OptionKind::SuppressReboot},
};

const Option* FindOption(const std::wstring& name) {
    for (const Option& option : kOptions) {
        if (name == option.name)
            return &option;
    }
    return nullptr;
}

} // namespace

const CommandLineOption* CommandLineOptions(std::size_t& count) {
    static const auto table = [] {
        std::vector<CommandLineOption> options;
        for (const Option& option : kOptions)
            options.push_back({option.name, option.variable, option.kind == OptionKind::Value});
        return options;
    }();
    count = table.size();
    return table.data();
}

int ParseCommandLine(VariableMap& variables, std::wstring& offending, std::vector<std::wstring>* ignored) {
    return ParseCommandLineText(GetCommandLineW(), variables, offending, ignored);
}

int ParseCommandLineText(const wchar_t* commandLine, VariableMap& variables, std::wstring& offending,
                         std::vector<std::wstring>* ignored) {
    int count = 0;
    const UniqueLocalMemory argumentBlock(CommandLineToArgvW(commandLine, &count));
    if (!argumentBlock.valid())
        ThrowWinException(GetLastError(), L" Fnc : ParseCommandLine; Line : 19; ");
    LPWSTR* const arguments = static_cast<LPWSTR*>(argumentBlock.get());

    VariableMap collected;
    std::vector<std::wstring> unused;
    bool isValue = false; // the argument is QZ_SUPPRESS_REBOOT's value
    for (int i = 0; i < count; ++i) {
        const bool wasValue = isValue;
        isValue = false;
        const std::wstring argument = arguments[i];
        const std::wstring::size_type equals = argument.find(L'=');
        const bool optionForm = equals == std::wstring::npos;

        std::wstring name;
        std::wstring value;
        if (optionForm) {
            name = argument;
            if (i + 1 < count)
                value = arguments[i + 1];
        } else {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        }

        const Option* option = FindOption(name);
        if (!option) {
            if (!optionForm)
                collected[name] = value;
            else if (i > 0 && !wasValue)
                unused.push_back(argument);
            continue;
        }

        switch (option->kind) {
        case OptionKind::Value:
            if (value.empty()) {
                offending = argument;
                return 1;
            }
            collected[option->variable] = value;
            if (optionForm)
                ++i; // the value was the next argument
            break;
        case OptionKind::Flag:
            collected[option->variable] = optionForm ? std::wstring(L"1") : value;
            break;
        case OptionKind::Uninstall:
            collected[option->variable] = L"UNINSTALL";
            break;
        case OptionKind::Help:
            collected[option->variable] = L"1";
            break;
        case OptionKind::SuppressReboot:
            collected[option->variable] = value;
            isValue = optionForm;
            break;
        }
    }

    variables.swap(collected);
    if (ignored)
        ignored->swap(unused);
    return 0;
}

std::wstring GetParseErrorText(int code) {
    std::wstring text;
    if (code == 1)
        LoadResourceMessage(IDS_MISSING_ARGUMENT, text);
    return text;
}
