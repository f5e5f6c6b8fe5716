// Whether the installer is busy, as its execution mutex tells: only a mutex
// that does not exist means free.
#include "system/installer_mutex.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>

#include "system/win_owners.h"

namespace {

TEST(InstallerMutex, OnlyAMissingMutexMeansFree) {
    const wchar_t* const name = L"Global\\_MSIExecute";
    const struct {
        const char* what;
        std::function<HANDLE()> create; // what stands under the mutex's name
        bool busy;
    } cases[] = {
        {"nothing", [] { return HANDLE(nullptr); }, false},
        {"the mutex", [name] { return CreateMutexW(nullptr, FALSE, name); }, true},
        {"the mutex, owned", [name] { return CreateMutexW(nullptr, TRUE, name); }, true},
        // Another kind of object under the name: the mutex cannot be opened,
        // but not because it is missing.
        {"an event of that name", [name] { return CreateEventW(nullptr, TRUE, FALSE, name); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(IsInstallerBusy()) << "left over from an earlier case";
        const UniqueKernelHandle object(c.create());
        EXPECT_EQ(c.busy, IsInstallerBusy());
    }
    EXPECT_FALSE(IsInstallerBusy());
}

} // namespace
