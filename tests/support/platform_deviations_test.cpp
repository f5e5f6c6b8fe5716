#include "support/platform_deviations.h"

#include "system/win_owners.h"

#include <gtest/gtest.h>

namespace qztest {
namespace {

// Wine is told apart from Windows by ntdll's wine_get_version; Wine's own
// registry key says the same independently. Were the two to disagree, every
// test that looks up a deviation would expect the wrong platform's value.
TEST(PlatformDeviations, WineIsRecognisedAndEveryRowNamesBothSides) {
    HKEY raw = nullptr;
    const bool wineKey =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Wine", 0, KEY_READ, &raw) == ERROR_SUCCESS;
    const UniqueRegistryKey key(raw);
    EXPECT_EQ(wineKey, UnderWine()) << "Wine " << WineVersion();
    for (int id = 0; id <= static_cast<int>(Deviation::ErrorTableWithoutRowOne); ++id) {
        const DeviationRow& row = Row(static_cast<Deviation>(id));
        SCOPED_TRACE(row.subject);
        EXPECT_EQ(static_cast<Deviation>(id), row.id);
        EXPECT_STRNE("", row.windows);
        EXPECT_STRNE("", row.wine);
        EXPECT_STRNE("", row.note);
        EXPECT_EQ(UnderWine() ? row.wineValue : row.windowsValue, PlatformValue(row.id));
    }
}

} // namespace
} // namespace qztest
