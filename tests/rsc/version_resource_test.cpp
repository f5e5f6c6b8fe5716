// The version resource read without the system's version library: the right
// FileVersion from a real program, and nothing read past the resource when
// its bytes are cut anywhere or its lengths lie.
#include "rsc/version_resource.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qz-version.h"
#include "support/test_env.h"
#include "system/win_owners.h"

namespace {

// The version resource of qz-setup.exe, as its bytes.
std::vector<unsigned char> SetupVersionResource() {
    const UniqueModule module(
        LoadLibraryExW(qztest::SetupExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    EXPECT_TRUE(module.valid());
    const HRSRC found =
        module.valid() ? FindResourceW(module.get(), MAKEINTRESOURCEW(1), RT_VERSION) : nullptr;
    const auto* data =
        found ? static_cast<const unsigned char*>(LockResource(LoadResource(module.get(), found))) : nullptr;
    EXPECT_NE(nullptr, data);
    return data ? std::vector<unsigned char>(data, data + SizeofResource(module.get(), found))
                : std::vector<unsigned char>();
}

TEST(VersionResource, ReadsTheFileVersionOfAProgram) {
    const UniqueModule module(
        LoadLibraryExW(qztest::SetupExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module.valid());
    EXPECT_EQ(QZ_VERSION_WTEXT, FileVersionOf(module.get()));
    // A module without a version resource.
    const UniqueModule bare(
        LoadLibraryExW((qztest::BinDir() + L"test-module.rsc").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(bare.valid());
    EXPECT_EQ(L"", FileVersionOf(bare.get()));
}

TEST(VersionResource, CutOrLyingBytesAreNeverReadPastTheirEnd) {
    const std::vector<unsigned char> whole = SetupVersionResource();
    ASSERT_GT(whole.size(), 64u);
    EXPECT_EQ(QZ_VERSION_WTEXT, FileVersionIn(whole.data(), whole.size()));
    // Each cut copy lives in a block of exactly its size.
    for (std::size_t size = 0; size < whole.size(); ++size) {
        std::vector<unsigned char> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        const std::wstring version = FileVersionIn(cut.data(), cut.size());
        EXPECT_TRUE(version.empty() || version == QZ_VERSION_WTEXT) << size;
    }
    // Every 16-bit length field made larger or zero.
    for (std::size_t at = 0; at + 2 <= whole.size(); at += 2) {
        for (const WORD value : {WORD(0), WORD(0xFFFF)}) {
            std::vector<unsigned char> changed = whole;
            std::memcpy(&changed[at], &value, sizeof value);
            FileVersionIn(changed.data(), changed.size());
        }
    }
    EXPECT_EQ(L"", FileVersionIn(nullptr, 0));
}

} // namespace
