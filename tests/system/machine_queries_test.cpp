// The machine's processor and directory listings.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "system/machine_queries.h"
#include "support/test_env.h"

namespace {

TEST(NativeProcessor, MatchesTheMachineTheBootstrapperRunsOn) {
#ifdef _WIN64
    // The 64-bit build runs only on a 64-bit Windows (a 64-bit Wine prefix);
    // it is not under WOW64, and the machine is still x64.
    BOOL wow64 = TRUE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_FALSE(wow64);
    const DWORD expected = PROCESSOR_ARCHITECTURE_AMD64;
#else
    // The test platform is a 64-bit Windows (a 64-bit Wine prefix) running
    // this 32-bit program under WOW64, or a plain 32-bit Windows.
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    const DWORD expected = wow64 ? PROCESSOR_ARCHITECTURE_AMD64 : PROCESSOR_ARCHITECTURE_INTEL;
#endif
    EXPECT_EQ(expected, GetNativeProcessor());
    EXPECT_EQ(GetNativeProcessor(), GetNativeProcessor());
}

TEST(NativeProcessor, OnlyAnArm64NativeMachineOverridesTheReportedProcessor) {
    const struct {
        USHORT nativeMachine;
        DWORD reported;
        DWORD processor;
    } cases[] = {
        {IMAGE_FILE_MACHINE_ARM64, PROCESSOR_ARCHITECTURE_AMD64, PROCESSOR_ARCHITECTURE_ARM64},
        {IMAGE_FILE_MACHINE_ARM64, PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_ARCHITECTURE_ARM64},
        {IMAGE_FILE_MACHINE_AMD64, PROCESSOR_ARCHITECTURE_AMD64, PROCESSOR_ARCHITECTURE_AMD64},
        {IMAGE_FILE_MACHINE_I386, PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_ARCHITECTURE_INTEL},
        {IMAGE_FILE_MACHINE_IA64, PROCESSOR_ARCHITECTURE_IA64, PROCESSOR_ARCHITECTURE_IA64},
        {0, PROCESSOR_ARCHITECTURE_AMD64, PROCESSOR_ARCHITECTURE_AMD64},
        {0, PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_ARCHITECTURE_INTEL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nativeMachine);
        MachineFacts machine;
        machine.nativeMachine = c.nativeMachine;
        machine.reportedProcessor = c.reported;
        EXPECT_EQ(c.processor, NativeProcessorOf(machine));
    }
}

TEST(NativeProcessor, WineReportsItsMachineThroughIsWow64Process2) {
    // Wine exports IsWow64Process2 and emulates an x64 machine in a 64-bit
    // prefix (an x86 one in a 32-bit prefix).
    const MachineFacts machine = GetMachineFacts();
    const USHORT expected = GetNativeProcessor() == PROCESSOR_ARCHITECTURE_AMD64 ? IMAGE_FILE_MACHINE_AMD64
                                                                                 : IMAGE_FILE_MACHINE_I386;
    EXPECT_EQ(expected, machine.nativeMachine);
}

TEST(ProcessorNames, TheMessagesAndTheRedistributableNameEachProcessorTheirWay) {
    const struct {
        DWORD processor;
        const wchar_t* displayName;
        const wchar_t* redistributableSuffix;
    } cases[] = {
        {PROCESSOR_ARCHITECTURE_INTEL, L"x86", L"x86"},   {PROCESSOR_ARCHITECTURE_IA64, L"Itanium", L"IA64"},
        {PROCESSOR_ARCHITECTURE_AMD64, L"AMD64", L"x64"}, {PROCESSOR_ARCHITECTURE_ARM64, L"ARM64", L"ARM64"},
        {PROCESSOR_ARCHITECTURE_ARM, L"x86", L"x86"},     {0xFFFF, L"x86", L"x86"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.processor);
        EXPECT_STREQ(c.displayName, ProcessorDisplayName(c.processor));
        EXPECT_STREQ(c.redistributableSuffix, RedistributableSuffix(c.processor));
    }
}

// A directory with files and sub-directories, some named like transforms.
class FileListTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const wchar_t* name : {L"a.mst", L"b.mst", L"readme.txt", L"c.MST"})
            qztest::WriteFileBytes(m_dir / name, "x");
        ASSERT_TRUE(CreateDirectoryW((m_dir / L"folder.mst").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((m_dir / L"other").c_str(), nullptr));
    }

    static std::vector<std::wstring> Sorted(const FileList& files) {
        std::vector<std::wstring> sorted(files.begin(), files.end());
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }

    qztest::TempDir m_dir;
};

TEST_F(FileListTest, AppendsTheBareNamesOfEveryMatchingEntry) {
    struct Case {
        const char* what;
        std::wstring pattern;
        std::vector<std::wstring> names; // sorted
    };
    const Case cases[] = {
        {"transforms, directories included, any letter case",
         L"*.mst",
         {L"a.mst", L"b.mst", L"c.MST", L"folder.mst"}},
        {"one file", L"readme.txt", {L"readme.txt"}},
        {"nothing matches", L"*.msi", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FileList files{L"kept.first", L"kept.second"};
        FileList& result = LoadFileList(m_dir.path() + c.pattern, files);
        EXPECT_EQ(&files, &result);
        ASSERT_EQ(c.names.size() + 2, files.size());
        // What the list held stays in front; the new names follow it.
        EXPECT_EQ(L"kept.first", files.front());
        EXPECT_EQ(L"kept.second", *std::next(files.begin()));
        const FileList added(std::next(files.begin(), 2), files.end());
        EXPECT_EQ(c.names, Sorted(added));
    }
}

TEST_F(FileListTest, KeepsTheSystemsListingOrder) {
    FileList expected;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((m_dir.path() + L"*").c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    do
        expected.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);

    FileList files;
    LoadFileList(m_dir.path() + L"*", files);
    EXPECT_EQ(expected, files);
}

TEST_F(FileListTest, AMissingDirectoryRaisesWithItsError) {
    std::wstringbuf log;
    FileList files{L"kept"};
    {
        LogStreamCapture capture(log);
        try {
            LoadFileList(m_dir.path() + L"missing\\*.mst", files);
            ADD_FAILURE() << "no exception";
        } catch (const WinException& e) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), e.GetError());
        }
    }
    EXPECT_EQ(FileList{L"kept"}, files);
    // The error line names the raising point.
    EXPECT_NE(std::wstring::npos, log.str().find(L" Fnc : LoadFileList; Line : 54; "))
        << qztest::ToUtf8(log.str());
}

TEST_F(FileListTest, TheListingIsClosedAfterwards) {
    const std::wstring folder = m_dir / L"other\\";
    qztest::WriteFileBytes(folder + L"one.mst", "x");
    FileList files;
    LoadFileList(folder + L"*.mst", files);
    EXPECT_EQ(FileList{L"one.mst"}, files);
    // An open listing keeps the directory from being removed.
    ASSERT_TRUE(DeleteFileW((folder + L"one.mst").c_str()));
    EXPECT_TRUE(RemoveDirectoryW(folder.c_str())) << GetLastError();
}

} // namespace
