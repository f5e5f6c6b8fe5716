#include "system/win_owners.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_env.h"

namespace {

UniqueFileHandle OpenAlone(const std::wstring& path) {
    return UniqueFileHandle(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// A call that hands out a new resource through put() must not leak the one
// the owner held: the file opened without sharing can be opened again.
TEST(UniqueResource, PutReleasesWhatItHeldBeforeHandingOutItsPlace) {
    const qztest::ScratchFile file(qztest::TempFolder() + L"\\qz-owner-put.txt");
    UniqueFileHandle owner = OpenAlone(file.path());
    ASSERT_TRUE(owner.valid());
    HANDLE* place = owner.put();
    EXPECT_EQ(INVALID_HANDLE_VALUE, *place);
    UniqueFileHandle again = OpenAlone(file.path());
    EXPECT_TRUE(again.valid()) << "the handle put() replaced still holds the file: " << GetLastError();

    // The block FormatMessageW allocates is the owner's from then on.
    UniqueLocalMemory text;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        ERROR_FILE_NOT_FOUND, 0, reinterpret_cast<LPWSTR>(text.put()), 0, nullptr);
    ASSERT_NE(0u, length);
    EXPECT_TRUE(text.valid());
    EXPECT_EQ(nullptr, LocalFree(text.release())) << "not a LocalAlloc block";
}

} // namespace
