#include "system/file_hash.h"

#include <bcrypt.h>

#include <type_traits>
#include <vector>

#include "system/dll_search.h"
#include "system/win_owners.h"

namespace {

// The CNG functions the digest needs, bound from the system directory's
// bcrypt.dll by its full path: the executable never imports it, so a DLL
// planted beside it cannot stand in.
struct CngApi {
    decltype(&::BCryptOpenAlgorithmProvider) OpenAlgorithmProvider;
    decltype(&::BCryptCloseAlgorithmProvider) CloseAlgorithmProvider;
    decltype(&::BCryptCreateHash) CreateHash;
    decltype(&::BCryptHashData) HashData;
    decltype(&::BCryptFinishHash) FinishHash;
    decltype(&::BCryptDestroyHash) DestroyHash;
};

constexpr DWORD kChunk = 64 * 1024;
constexpr ULONG kDigestBytes = 32;

// The system's error for a CNG status.
DWORD ErrorOfStatus(NTSTATUS status) {
    using Convert = ULONG(WINAPI*)(NTSTATUS);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto convert = ntdll ? reinterpret_cast<Convert>(
                                     reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")))
                               : nullptr;
    const DWORD error = convert ? convert(status) : ERROR_GEN_FAILURE;
    return error != ERROR_SUCCESS && error != ERROR_MR_MID_NOT_FOUND ? error : ERROR_GEN_FAILURE;
}

bool LoadCng(UniqueModule& module, CngApi& api, DWORD& error) {
    std::wstring path;
    if (!SystemLibraryPath(L"bcrypt.dll", path, error))
        return false;
    module.reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!module.valid()) {
        error = GetLastError();
        return false;
    }
    bool complete = true;
    auto bind = [&](auto& slot, const char* name) {
        complete = BindFunction(module.get(), slot, name) && complete;
    };
    bind(api.OpenAlgorithmProvider, "BCryptOpenAlgorithmProvider");
    bind(api.CloseAlgorithmProvider, "BCryptCloseAlgorithmProvider");
    bind(api.CreateHash, "BCryptCreateHash");
    bind(api.HashData, "BCryptHashData");
    bind(api.FinishHash, "BCryptFinishHash");
    bind(api.DestroyHash, "BCryptDestroyHash");
    if (!complete)
        error = ERROR_PROC_NOT_FOUND;
    return complete;
}

// Owners of the algorithm and the hash, released through the bound functions.
class Algorithm {
public:
    explicit Algorithm(const CngApi& api) : m_api(api) {}
    Algorithm(const Algorithm&) = delete;
    Algorithm& operator=(const Algorithm&) = delete;
    ~Algorithm() {
        if (m_handle)
            m_api.CloseAlgorithmProvider(m_handle, 0);
    }
    BCRYPT_ALG_HANDLE* put() { return &m_handle; }
    BCRYPT_ALG_HANDLE get() const { return m_handle; }

private:
    const CngApi& m_api;
    BCRYPT_ALG_HANDLE m_handle = nullptr;
};

class Hash {
public:
    explicit Hash(const CngApi& api) : m_api(api) {}
    Hash(const Hash&) = delete;
    Hash& operator=(const Hash&) = delete;
    ~Hash() {
        if (m_handle)
            m_api.DestroyHash(m_handle);
    }
    BCRYPT_HASH_HANDLE* put() { return &m_handle; }
    BCRYPT_HASH_HANDLE get() const { return m_handle; }

private:
    const CngApi& m_api;
    BCRYPT_HASH_HANDLE m_handle = nullptr;
};

} // namespace

bool Sha256OfFile(const std::wstring& path, std::string& digest, DWORD& error) {
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) {
        error = GetLastError();
        return false;
    }
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        error = ERROR_NOT_SUPPORTED; // a pipe or a device, which might never end
        return false;
    }
    UniqueModule module;
    CngApi api{};
    if (!LoadCng(module, api, error))
        return false;
    Algorithm algorithm(api);
    NTSTATUS status = api.OpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    Hash hash(api);
    if (BCRYPT_SUCCESS(status))
        status = api.CreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0);
    if (!BCRYPT_SUCCESS(status)) {
        error = ErrorOfStatus(status);
        return false;
    }
    std::vector<UCHAR> chunk(kChunk);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), chunk.data(), kChunk, &read, nullptr)) {
            error = GetLastError();
            return false;
        }
        if (read == 0)
            break;
        status = api.HashData(hash.get(), chunk.data(), read, 0);
        if (!BCRYPT_SUCCESS(status)) {
            error = ErrorOfStatus(status);
            return false;
        }
    }
    UCHAR bytes[kDigestBytes];
    status = api.FinishHash(hash.get(), bytes, kDigestBytes, 0);
    if (!BCRYPT_SUCCESS(status)) {
        error = ErrorOfStatus(status);
        return false;
    }
    static const char kHex[] = "0123456789abcdef";
    digest.clear();
    for (const UCHAR byte : bytes) {
        digest += kHex[byte >> 4];
        digest += kHex[byte & 0x0F];
    }
    return true;
}
