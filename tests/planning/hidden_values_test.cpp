#include "planning/hidden_values.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_env.h"

namespace {

TEST(HiddenValues, ListedNamesAndPasswords) {
    const HiddenValues hidden(L"SERVICE_KEY; DB_SECRET ;;Token");
    EXPECT_EQ((std::vector<std::wstring>{L"SERVICE_KEY", L"DB_SECRET", L"Token"}), hidden.listed());
    const struct {
        const wchar_t* name;
        bool hidden;
    } cases[] = {
        {L"SERVICE_KEY", true},
        {L"DB_SECRET", true},
        {L"Token", true},
        {L"TOKEN", false}, // the installer's property names are case-sensitive
        {L"SERVICE_KEY2", false},
        {L"PASSWORD", true},
        {L"DbPassword", true},
        {L"ADMIN_PASSWORD_HASH", true},
        {L"password", true},
        {L"PASSWRD", false},
        {L"PASS_WORD", false},
        {L"INSTALLDIR", false},
        {L"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qztest::ToUtf8(c.name));
        EXPECT_EQ(c.hidden, hidden.IsHidden(c.name));
        EXPECT_EQ(c.hidden ? L"********" : L"value", hidden.Shown(c.name, L"value"));
    }
}

TEST(HiddenValues, WithoutAListOnlyPasswords) {
    for (const HiddenValues& hidden : {HiddenValues(), HiddenValues(L""), HiddenValues(L" ; ")}) {
        EXPECT_TRUE(hidden.listed().empty());
        EXPECT_TRUE(hidden.IsHidden(L"USER_PASSWORD"));
        EXPECT_FALSE(hidden.IsHidden(L"USER_NAME"));
    }
}

} // namespace
