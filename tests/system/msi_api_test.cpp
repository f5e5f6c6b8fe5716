#include "system/msi_api.h"

#include <gtest/gtest.h>

namespace {

// What the run, its exit code, its exit file and the redistributable's step
// all count as the installer's success.
TEST(InstallerResults, SuccessAndRestart) {
    const struct {
        unsigned result;
        bool success;
        bool restart;
    } cases[] = {
        {0, true, false},     {3010, true, true},   {1641, true, true},
        {1, false, false},    {1602, false, false}, {1603, false, false},
        {3011, false, false}, {1640, false, false}, {0xFFFFFFFFu, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        EXPECT_EQ(c.success, QZ::MSInstaller::IsSuccessResult(c.result));
        EXPECT_EQ(c.restart, QZ::MSInstaller::IsRestartResult(c.result));
    }
}

} // namespace
