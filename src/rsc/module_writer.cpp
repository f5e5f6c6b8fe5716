#include "rsc/module_writer.h"

#include "rsc/file_io.h"
#include "rsc/rsc_resources.h"
#include "system/win_owners.h"

namespace {

// The system's error of a call that failed; a failure that left none is
// told as a failed write, never as success.
DWORD FailureOf(DWORD error) {
    return error != ERROR_SUCCESS ? error : static_cast<DWORD>(ERROR_WRITE_FAULT);
}

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

// The template module, this program's own resource, into `file`.
bool WriteTemplate(HANDLE file, DWORD& error) {
    const HMODULE self = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(IDR_MODULE_TEMPLATE), RT_RCDATA);
    const void* bytes = found ? LockResource(LoadResource(self, found)) : nullptr;
    if (!bytes) {
        error = ERROR_RESOURCE_DATA_NOT_FOUND;
        return false;
    }
    return WriteAll(file, bytes, SizeofResource(self, found), error);
}

} // namespace

bool WriteResourceModule(const std::wstring& path, const std::vector<TableMessage>& messages, DWORD& error) {
    ScratchFile scratch(path);
    {
        const UniqueFileHandle file = scratch.Create(error);
        if (!file.valid() || !WriteTemplate(file.get(), error))
            return false;
    }
    {
        ResourceUpdate update(scratch.path());
        if (!update.valid()) {
            error = FailureOf(GetLastError());
            return false;
        }
        for (const auto& [key, data] : MakeStringBlocks(messages)) {
            if (!update.Put(key.first, key.second, data)) {
                error = FailureOf(GetLastError());
                return false;
            }
        }
        if (!update.Commit()) {
            error = FailureOf(GetLastError());
            return false;
        }
    }
    return scratch.Replace(error);
}
