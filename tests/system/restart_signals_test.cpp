// The signals of a restart that is already pending, set one at a time in the
// registry of the test prefix.
#include "system/restart_signals.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <memory>
#include <vector>

#include "support/restart_signal.h"
#include "support/test_env.h"

namespace {

TEST(RestartSignals, EachSignalIsNamedWhenSetAndOnlyThen) {
    const qztest::NoRestartSignals none;
    ASSERT_TRUE(none.cleared());
    EXPECT_EQ(std::vector<std::wstring>(), PendingRestartSignals());
    for (const RestartSignal& signal : RestartSignals()) {
        SCOPED_TRACE(qztest::ToUtf8(signal.name));
        {
            const qztest::SetRestartSignal set(signal);
            ASSERT_TRUE(set.set());
            EXPECT_EQ(std::vector<std::wstring>{signal.name}, PendingRestartSignals());
        }
        EXPECT_EQ(std::vector<std::wstring>(), PendingRestartSignals());
    }
    // All three at once, in their order.
    std::vector<std::wstring> names;
    std::vector<std::unique_ptr<qztest::SetRestartSignal>> all;
    for (const RestartSignal& signal : RestartSignals()) {
        all.push_back(std::make_unique<qztest::SetRestartSignal>(signal));
        names.emplace_back(signal.name);
    }
    EXPECT_EQ(names, PendingRestartSignals());
}

TEST(RestartSignals, AnEmptyListOfFilesToRenameIsNoSignal) {
    const qztest::NoRestartSignals none;
    ASSERT_TRUE(none.cleared());
    const RestartSignal& renames = RestartSignals()[0];
    const struct {
        const char* what;
        std::wstring data; // the REG_MULTI_SZ value, its nulls included
        bool set;
    } cases[] = {
        {"only the terminating nulls", std::wstring(2, L'\0'), false},
        {"nothing at all", std::wstring(), false},
        {"a file to remove", std::wstring(L"\\??\\C:\\temp\\old.dll\0\0\0", 22), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const qztest::SetRestartSignal set(renames, c.data);
        ASSERT_TRUE(set.set());
        EXPECT_EQ(c.set, !PendingRestartSignals().empty());
    }
}

} // namespace
