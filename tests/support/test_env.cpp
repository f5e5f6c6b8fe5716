#include "support/test_env.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace qztest {
namespace {

struct FindHandle {
    HANDLE handle;
    ~FindHandle() {
        if (handle != INVALID_HANDLE_VALUE)
            FindClose(handle);
    }
};

} // namespace

TempDir::TempDir() {
    const std::wstring root = TempFolder();
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        const std::wstring candidate = root + L"qzt" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                                       std::to_wstring(GetTickCount() + attempt) + L"\\";
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a scratch directory");
}

TempDir::~TempDir() {
    RemoveTree(m_path);
}

UniqueFileHandle HeldForDeletion(const std::wstring& folder) {
    CreateDirectoryW(folder.c_str(), nullptr);
    return UniqueFileHandle(CreateFileW(folder.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

void RemoveTree(const std::wstring& path) {
    std::wstring dir = path;
    if (!dir.empty() && dir.back() != L'\\')
        dir += L'\\';
    WIN32_FIND_DATAW data;
    FindHandle find{FindFirstFileW((dir + L"*").c_str(), &data)};
    if (find.handle != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring full = dir + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full);
            } else {
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(find.handle, &data));
    }
    RemoveDirectoryW(dir.c_str());
}

std::wstring BinDir() {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring path(buffer, length);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring SourcePath(const std::wstring& relative) {
    // The test kit carries what the tests read from the source tree in a
    // folder beside the test programs; a build reads the tree itself, through
    // the drive Wine maps to the Linux root.
    const std::wstring kit = BinDir() + L"source\\";
    std::wstring path = PathExists(kit) ? kit + relative : L"Z:" + FromUtf8(QZ_SOURCE_DIR) + L"/" + relative;
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

std::wstring SetupExePath() {
    return BinDir() + L"qz-setup.exe";
}

std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + ToUtf8(path));
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + ToUtf8(path));
}

bool PathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void CopyFileOrThrow(const std::wstring& from, const std::wstring& to) {
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE))
        throw std::runtime_error("cannot copy " + ToUtf8(from) + " to " + ToUtf8(to));
}

std::wstring ReadUtf16File(const std::wstring& path) {
    const std::string bytes = ReadFileBytes(path);
    std::wstring text(bytes.size() / 2, L'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return text;
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size, nullptr,
                        nullptr);
    return result;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty())
        return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size);
    return result;
}

std::vector<std::wstring> SplitLines(const std::wstring& text, const std::wstring& separator) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        if (end == std::wstring::npos) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + separator.size();
    }
}

std::wstring SystemText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                        error, 0x400, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text(buffer ? buffer : L"", length);
    LocalFree(buffer);
    return text;
}

HeldInstallerMutex::HeldInstallerMutex() : m_mutex(CreateMutexW(nullptr, FALSE, L"Global\\_MSIExecute")) {}

bool MachineIsX64() {
#ifdef _WIN64
    return true;
#else
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return wow64 != FALSE;
#endif
}

std::wstring NativePlatform() {
    return MachineIsX64() ? L"x64" : L"Intel";
}

std::wstring ForeignPlatform() {
    return MachineIsX64() ? L"Intel" : L"x64";
}

std::wstring TempFolder() {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"TEMP", buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        throw std::runtime_error("TEMP is not set, or too long");
    std::wstring folder(buffer, length);
    if (folder.back() != L'\\')
        folder += L'\\';
    return folder;
}

DWORD LinksOf(const std::wstring& path) {
    const UniqueFileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    return file.valid() && GetFileInformationByHandle(file.get(), &information) ? information.nNumberOfLinks
                                                                                : 0;
}

} // namespace qztest
