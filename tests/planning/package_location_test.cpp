// Finding the package by its file or by name and the machine's processor, in
// folders of real installer packages.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "msi/package_properties.h"
#include "planning/package_location.h"
#include "support/package_builder.h"
#include "support/test_env.h"

namespace {

// The Template platform of packages for this machine, and of packages for another one.
std::wstring NativePlatform() {
    return GetNativeProcessor() == PROCESSOR_ARCHITECTURE_AMD64 ? L"x64" : L"Intel";
}
std::wstring ForeignPlatform() {
    return GetNativeProcessor() == PROCESSOR_ARCHITECTURE_AMD64 ? L"Intel" : L"x64";
}

void MakePackage(const std::wstring& path, const std::wstring& productName, const std::wstring& platform) {
    qztest::PackageSpec desc;
    desc.productName = productName;
    desc.platform = platform;
    qztest::BuildPackage(desc, path);
}

// The entries of `dir` matching "*.msi", in the order the system lists them.
std::vector<std::wstring> Listing(const std::wstring& dir) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((dir + L"*.msi").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

struct Located {
    bool found = false;
    VariableMap variables;
    std::wstring log;
};

Located Locate(VariableMap variables) {
    Located result;
    std::wstringbuf log;
    {
        LogStreamCapture capture(log);
        QZ::MSInstaller::Package package;
        result.found = LocatePackage(variables, package);
        EXPECT_EQ(result.found, package.IsOpen());
    }
    result.variables = std::move(variables);
    result.log = log.str();
    return result;
}

std::wstring NotFoundLine(const std::wstring& name, const std::wstring& dir) {
    return L"QZSETUP:BOOTSTRAP:ERR::Package named " + name + L" for processor " +
           ProcessorDisplayName(GetNativeProcessor()) + L" not found in " + dir + L" directory.\r\n";
}

// A folder of packages: two for this machine whose names contain "Sample
// Agent", one for another processor, one with another name, a directory named
// like a package and a file that is not a package by its ending.
class LocateByName : public ::testing::Test {
protected:
    void SetUp() override {
        MakePackage(m_dir / L"agent-native.msi", L"QZ Sample Agent", NativePlatform());
        MakePackage(m_dir / L"agent-foreign.msi", L"QZ Sample Agent", ForeignPlatform());
        MakePackage(m_dir / L"agent-second.msi", L"QZ Sample Agent Tools", NativePlatform());
        MakePackage(m_dir / L"other.msi", L"QZ Other Product", NativePlatform());
        ASSERT_TRUE(CreateDirectoryW((m_dir / L"x.msi").c_str(), nullptr));
        qztest::WriteFileBytes(m_dir / L"notes.txt", "not a package");
        m_listing = Listing(m_dir.path());
    }

    // The first entry in listing order among `names`.
    std::wstring FirstListed(const std::vector<std::wstring>& names) const {
        for (const auto& entry : m_listing)
            for (const auto& name : names)
                if (entry == name)
                    return m_dir / entry;
        return std::wstring();
    }

    qztest::TempDir m_dir;
    std::vector<std::wstring> m_listing;
};

TEST_F(LocateByName, TakesTheFirstListedPackageForThisProcessorWhoseNameHoldsTheGivenOne) {
    ASSERT_EQ(5u, m_listing.size()) << "four packages and the directory x.msi";
    const std::wstring dir = m_dir.path();
    const struct Case {
        const char* what;
        std::wstring name;
        std::wstring keptName; // the name the settings keep
        std::wstring package;  // empty: none found
    } cases[] = {
        {"two match, the foreign one never", L"Sample Agent", L"Sample Agent",
         FirstListed({L"agent-native.msi", L"agent-second.msi"})},
        {"the name is trimmed first", L" \tSample Agent  ", L"Sample Agent",
         FirstListed({L"agent-native.msi", L"agent-second.msi"})},
        {"part of one product name", L"Agent Tools", L"Agent Tools", dir + L"agent-second.msi"},
        {"blanks match the first package for this processor", L"   ", L"",
         FirstListed({L"agent-native.msi", L"agent-second.msi", L"other.msi"})},
        {"an empty name too", L"", L"",
         FirstListed({L"agent-native.msi", L"agent-second.msi", L"other.msi"})},
        {"letter case counts", L"sample agent", L"sample agent", L""},
        {"the whole name must occur", L"Sample Agents", L"Sample Agents", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Located located = Locate({{L"QZ_SETUP_PACKAGE_DIR", dir}, {L"QZ_SETUP_PACKAGE_NAME", c.name}});
        EXPECT_EQ(!c.package.empty(), located.found);
        EXPECT_EQ(c.keptName, located.variables.at(L"QZ_SETUP_PACKAGE_NAME"));
        const auto file = located.variables.find(L"QZ_SETUP_PACKAGE_FILE");
        if (c.package.empty()) {
            EXPECT_EQ(located.variables.end(), file);
            EXPECT_EQ(NotFoundLine(c.keptName, dir), located.log);
        } else {
            ASSERT_NE(located.variables.end(), file);
            EXPECT_EQ(c.package, file->second);
            EXPECT_EQ(L"", located.log);
        }
    }
}

TEST(LocateByNameOrder, ThePackageForThisProcessorWinsInEitherListingOrder) {
    // The same two file names carry the two platforms one way and then the
    // other, so one of the folders lists the foreign package first.
    for (const bool nativeFirstName : {true, false}) {
        SCOPED_TRACE(nativeFirstName ? "native as a.msi" : "native as b.msi");
        qztest::TempDir dir;
        MakePackage(dir / L"a.msi", L"Sample Agent x",
                    nativeFirstName ? NativePlatform() : ForeignPlatform());
        MakePackage(dir / L"b.msi", L"Sample Agent y",
                    nativeFirstName ? ForeignPlatform() : NativePlatform());
        const Located located =
            Locate({{L"QZ_SETUP_PACKAGE_DIR", dir.path()}, {L"QZ_SETUP_PACKAGE_NAME", L"Sample Agent"}});
        ASSERT_TRUE(located.found) << qztest::ToUtf8(located.log);
        EXPECT_EQ(dir / (nativeFirstName ? L"a.msi" : L"b.msi"),
                  located.variables.at(L"QZ_SETUP_PACKAGE_FILE"));
    }
}

// The choice as a function of what the system says of the machine, over real
// packages for Arm64, x64 and x86. Wine lists a folder sorted by name, so
// the file names set the listing order.
TEST(LocateOnArm64, AnArm64PackageFirstThenTheEmulatedProcessors) {
    constexpr USHORT arm64 = IMAGE_FILE_MACHINE_ARM64;
    constexpr USHORT amd64 = IMAGE_FILE_MACHINE_AMD64;
    constexpr DWORD x64 = PROCESSOR_ARCHITECTURE_AMD64;
    constexpr DWORD x86 = PROCESSOR_ARCHITECTURE_INTEL;
    const struct {
        const char* what;
        std::vector<std::pair<const wchar_t*, const wchar_t*>> packages; // file name, Template
        MachineFacts machine;
        const wchar_t* chosen; // empty: none
    } cases[] = {
        {"Windows 11 on Arm, Arm64 listed first",
         {{L"a.msi", L"Arm64;1033"}, {L"b.msi", L"x64;1033"}, {L"c.msi", L"Intel;1033"}},
         {arm64, x64},
         L"a.msi"},
        {"Windows 11 on Arm, Arm64 listed last",
         {{L"a.msi", L"x64;1033"}, {L"b.msi", L"Intel;1033"}, {L"c.msi", L"Arm64;1033"}},
         {arm64, x64},
         L"c.msi"},
        {"Windows 11 on Arm without an Arm64 package",
         {{L"a.msi", L"Intel;1033"}, {L"b.msi", L"x64;1033"}},
         {arm64, x64},
         L"b.msi"},
        {"Windows 10 on Arm, Arm64 listed last",
         {{L"a.msi", L"Intel;1033"}, {L"b.msi", L"x64;1033"}, {L"c.msi", L"Arm64;1033"}},
         {arm64, x86},
         L"c.msi"},
        {"Windows 10 on Arm without an Arm64 package",
         {{L"a.msi", L"x64;1033"}, {L"b.msi", L"Intel;1033"}},
         {arm64, x86},
         L"b.msi"},
        {"Windows 10 on Arm with only an x64 package", {{L"a.msi", L"x64;1033"}}, {arm64, x86}, L""},
        {"an x64 machine passes the Arm64 package by",
         {{L"a.msi", L"Arm64;1033"}, {L"b.msi", L"x64;1033"}},
         {amd64, x64},
         L"b.msi"},
        {"a system without IsWow64Process2",
         {{L"a.msi", L"Arm64;1033"}, {L"b.msi", L"Intel;1033"}},
         {0, x86},
         L"b.msi"},
        {"an x64 machine with only an Arm64 package", {{L"a.msi", L"Arm64;1033"}}, {amd64, x64}, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        qztest::TempDir dir;
        for (const auto& [file, templateText] : c.packages) {
            qztest::PackageSpec desc;
            desc.productName = L"QZ Sample Agent";
            desc.templateText = templateText;
            qztest::BuildPackage(desc, dir / file);
        }
        const std::wstring expected = *c.chosen ? dir / c.chosen : std::wstring();
        EXPECT_EQ(expected, FindPackage(dir.path(), L"Sample Agent", c.machine).Path());
    }
}

TEST(LocateOnArm64, ThisMachineIsNoArm64Machine) {
    // Wine reports the machine it emulates: x64 for a 64-bit prefix.
    const MachineFacts machine = GetMachineFacts();
    EXPECT_NE(IMAGE_FILE_MACHINE_ARM64, machine.nativeMachine);
    EXPECT_EQ(GetNativeProcessor(), NativeProcessorOf(machine));
}

TEST(LocateByNameFolders, NothingToListIsNotFoundWithoutRaising) {
    qztest::TempDir dir;
    ASSERT_TRUE(CreateDirectoryW((dir / L"empty").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((dir / L"only-dirs").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((dir / L"only-dirs\\x.msi").c_str(), nullptr));
    for (const std::wstring& folder : {dir / L"empty\\", dir / L"only-dirs\\", dir / L"missing\\"}) {
        SCOPED_TRACE(qztest::ToUtf8(folder));
        const Located located =
            Locate({{L"QZ_SETUP_PACKAGE_DIR", folder}, {L"QZ_SETUP_PACKAGE_NAME", L" Sample Agent "}});
        EXPECT_FALSE(located.found);
        EXPECT_EQ(NotFoundLine(L"Sample Agent", folder), located.log);
        EXPECT_EQ(0u, located.variables.count(L"QZ_SETUP_PACKAGE_FILE"));
    }
}

TEST(LocateByNameFolders, AFileThatIsNoPackageEndsTheSearchWithTheInstallersError) {
    // Not skipped: a broken file among the packages is a fault of the
    // delivery, and the run stops on it.
    qztest::TempDir dir;
    qztest::WriteFileBytes(dir / L"broken.msi", "this is not an installer database\r\n");
    const std::wstring folder = dir / L"sub\\";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    qztest::WriteFileBytes(folder + L"broken.msi", "this is not an installer database\r\n");
    std::wstringbuf log;
    {
        LogStreamCapture capture(log);
        VariableMap variables{{L"QZ_SETUP_PACKAGE_DIR", folder}, {L"QZ_SETUP_PACKAGE_NAME", L""}};
        try {
            QZ::MSInstaller::Package package;
            LocatePackage(variables, package);
            ADD_FAILURE() << "no exception";
        } catch (const MSIException& e) {
            EXPECT_NE(0u, e.GetError());
        }
        EXPECT_EQ(0u, variables.count(L"QZ_SETUP_PACKAGE_FILE"));
    }
    // The listing was closed while the exception passed.
    ASSERT_TRUE(DeleteFileW((folder + L"broken.msi").c_str()));
    EXPECT_TRUE(RemoveDirectoryW(folder.c_str())) << GetLastError();
}

TEST(LocateByFile, TheFileIsMadeAbsoluteAndItsProductNameBecomesTheName) {
    qztest::TempDir dir;
    // For another processor: a package named by its file is not checked.
    MakePackage(dir / L"given.msi", L"QZ Given Product", ForeignPlatform());
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.path().c_str()));
    const Located located = Locate({{L"QZ_SETUP_PACKAGE_DIR", L"C:\\nowhere\\"},
                                    {L"QZ_SETUP_PACKAGE_FILE", L" \"given.msi\" "},
                                    {L"QZ_SETUP_PACKAGE_NAME", L"Something Else"}});
    SetCurrentDirectoryW(saved);
    EXPECT_TRUE(located.found);
    EXPECT_EQ(dir / L"given.msi", located.variables.at(L"QZ_SETUP_PACKAGE_FILE"));
    EXPECT_EQ(L"QZ Given Product", located.variables.at(L"QZ_SETUP_PACKAGE_NAME"));
    EXPECT_EQ(L"", located.log);
}

} // namespace

namespace {

// Which package platforms a machine runs when the package is named by its file.
TEST(NearMiss, WhichPlatformsAMachineRuns) {
    const MachineFacts x86{0, PROCESSOR_ARCHITECTURE_INTEL};
    const MachineFacts x64{IMAGE_FILE_MACHINE_AMD64, PROCESSOR_ARCHITECTURE_AMD64};
    const MachineFacts itanium{IMAGE_FILE_MACHINE_IA64, PROCESSOR_ARCHITECTURE_IA64};
    const MachineFacts arm64Emulating64{IMAGE_FILE_MACHINE_ARM64, PROCESSOR_ARCHITECTURE_AMD64}; // Windows 11
    const MachineFacts arm64Emulating32{IMAGE_FILE_MACHINE_ARM64, PROCESSOR_ARCHITECTURE_INTEL}; // Windows 10
    const struct {
        const char* what;
        MachineFacts machine;
        bool intel, x64Package, intel64, arm64;
    } cases[] = {
        {"x86", x86, true, false, false, false},
        {"x64", x64, true, true, false, false},
        {"Itanium", itanium, true, false, true, false},
        {"Arm64 emulating x64", arm64Emulating64, true, true, false, true},
        {"Arm64 emulating x86 only", arm64Emulating32, true, false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.intel, CanRunPackagePlatform(PROCESSOR_ARCHITECTURE_INTEL, c.machine));
        EXPECT_EQ(c.x64Package, CanRunPackagePlatform(PROCESSOR_ARCHITECTURE_AMD64, c.machine));
        EXPECT_EQ(c.intel64, CanRunPackagePlatform(PROCESSOR_ARCHITECTURE_IA64, c.machine));
        EXPECT_EQ(c.arm64, CanRunPackagePlatform(PROCESSOR_ARCHITECTURE_ARM64, c.machine));
        EXPECT_FALSE(CanRunPackagePlatform(QZ::MSInstaller::PLATFORM_UNRECOGNISED, c.machine));
    }
}

// A name that matched on the wrong platform is named after message 124: with
// /f where this machine can run the package, without where it cannot.
TEST(NearMiss, PackagesWhoseNameMatchedOnAnotherPlatformAreNamed) {
    if (GetNativeProcessor() != PROCESSOR_ARCHITECTURE_AMD64)
        GTEST_SKIP() << "the folder is made for an x64 machine";
    qztest::TempDir dir;
    MakePackage(dir / L"agent-x86.msi", L"QZ Near Agent", L"Intel");
    MakePackage(dir / L"agent-arm64.msi", L"QZ Near Agent", L"Arm64");
    MakePackage(dir / L"agent-odd.msi", L"QZ Near Agent", L"Alpha");
    MakePackage(dir / L"other-x86.msi", L"QZ Other Product", L"Intel");
    const Located located =
        Locate({{L"QZ_SETUP_PACKAGE_DIR", dir.path()}, {L"QZ_SETUP_PACKAGE_NAME", L"Near Agent"}});
    EXPECT_FALSE(located.found);

    std::wstring expected = NotFoundLine(L"Near Agent", dir.path());
    for (const std::wstring& name : Listing(dir.path())) {
        if (name == L"agent-x86.msi")
            expected +=
                L"QZSETUP:BOOTSTRAP:ERR::Package " + (dir / name) +
                L" matches the name but is made for the Intel platform. This machine can run it: name it "
                L"with /f to install it.\r\n";
        else if (name == L"agent-arm64.msi")
            expected +=
                L"QZSETUP:BOOTSTRAP:ERR::Package " + (dir / name) +
                L" matches the name but is made for the Arm64 platform, which this machine cannot run.\r\n";
        // A platform no processor has, and another name, are not named.
    }
    EXPECT_EQ(expected, located.log);
}

} // namespace
