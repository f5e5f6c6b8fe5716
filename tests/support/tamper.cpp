#include "support/tamper.h"

#include "system/win_owners.h"

namespace qztest {

ChangeAttempts TryToChange(const std::wstring& path) {
    ChangeAttempts attempts;
    {
        const UniqueFileHandle writer(CreateFileW(path.c_str(), GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        attempts.write = writer.valid() ? 0 : GetLastError();
    }
    const std::wstring moved = path + L".moved";
    if (MoveFileW(path.c_str(), moved.c_str()))
        MoveFileW(moved.c_str(), path.c_str());
    else
        attempts.rename = GetLastError();
    attempts.remove = DeleteFileW(path.c_str()) ? 0 : GetLastError();
    return attempts;
}

} // namespace qztest
