#include "rsc/module_writer.h"

#include "rsc/file_io.h"
#include "rsc/rsc_resources.h"
#include "system/win_owners.h"

namespace {

// An update of a module's resources, discarded unless committed.
class ResourceUpdate {
public:
    explicit ResourceUpdate(const std::wstring& path) : m_handle(BeginUpdateResourceW(path.c_str(), FALSE)) {}
    ResourceUpdate(const ResourceUpdate&) = delete;
    ResourceUpdate& operator=(const ResourceUpdate&) = delete;
    ~ResourceUpdate() {
        if (m_handle)
            EndUpdateResourceW(m_handle, TRUE);
    }
    bool valid() const { return m_handle != nullptr; }
    bool Put(WORD block, WORD language, const std::vector<WCHAR>& data) {
        return UpdateResourceW(m_handle, RT_STRING, MAKEINTRESOURCEW(block), language,
                               const_cast<WCHAR*>(data.data()),
                               static_cast<DWORD>(data.size() * sizeof(WCHAR)));
    }
    bool Commit() {
        const HANDLE handle = m_handle;
        m_handle = nullptr;
        return EndUpdateResourceW(handle, FALSE);
    }

private:
    HANDLE m_handle;
};

bool WriteTemplate(const std::wstring& path, DWORD& error) {
    const HMODULE self = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(IDR_MODULE_TEMPLATE), RT_RCDATA);
    const void* bytes = found ? LockResource(LoadResource(self, found)) : nullptr;
    if (!bytes) {
        error = ERROR_RESOURCE_DATA_NOT_FOUND;
        return false;
    }
    const DWORD size = SizeofResource(self, found);
    const UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file.valid() || !WriteFile(file.get(), bytes, size, &written, nullptr) || written != size) {
        error = GetLastError();
        return false;
    }
    return true;
}

} // namespace

bool WriteResourceModule(const std::wstring& path, const std::vector<TableMessage>& messages, DWORD& error) {
    ScratchFile scratch(path);
    if (!WriteTemplate(scratch.path(), error))
        return false;
    {
        ResourceUpdate update(scratch.path());
        if (!update.valid()) {
            error = GetLastError();
            return false;
        }
        for (const auto& [key, data] : MakeStringBlocks(messages)) {
            if (!update.Put(key.first, key.second, data)) {
                error = GetLastError();
                return false;
            }
        }
        if (!update.Commit()) {
            error = GetLastError();
            return false;
        }
    }
    return scratch.Replace(error);
}
