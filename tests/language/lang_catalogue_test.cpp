// The catalogue of language transforms, built from real transforms.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "language/lang_catalogue.h"
#include "support/test_env.h"
#include "support/transform_writer.h"

namespace {

TEST(ParseLanguageValue, ReadsLikeWcstoulAndKeepsTheLow16Bits) {
    struct Case {
        const wchar_t* text;
        WORD expected;
    };
    const Case cases[] = {
        {L"1036", 1036}, {L"1031abc", 1031}, {L"abc", 0},        {L"66567", 1031}, {L"  \t2052", 2052},
        {L"", 0},        {L"0x409", 0},      {L"65535", 0xFFFF}, {L"65536", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qztest::ToUtf8(c.text));
        EXPECT_EQ(c.expected, ParseLanguageValue(c.text));
    }
}

// The names matching `pattern` in the order the system lists them.
std::vector<std::wstring> Listing(const std::wstring& pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

std::wstring FoundLine(const std::wstring& path, unsigned id) {
    return L"QZSETUP:BOOTSTRAP:INFO::Found \"" + path + L"\" language transfrom with " + std::to_wstring(id) +
           L" id.";
}

std::wstring NotTransformLine(const std::wstring& path) {
    return L"QZSETUP:BOOTSTRAP:INFO::File \"" + path + L"\" is not language transform.";
}

// A transform directory and the log lines written while the catalogue is built.
class LangCatalogueTest : public ::testing::Test {
protected:
    std::wstring Dir() const { return m_dir.path(); }

    void Transform(const std::wstring& name, const std::wstring& language) {
        qztest::WriteTransform({{{L"ProductLanguage", language}}, {}, 1252}, Dir() + name);
    }

    std::vector<std::wstring> LogLines() const {
        std::vector<std::wstring> lines = qztest::SplitLines(m_log.str());
        if (!lines.empty() && lines.back().empty())
            lines.pop_back();
        return lines;
    }

    LangItems Load(std::vector<std::wstring>* passedOver = nullptr) {
        LogStreamCapture capture(m_log);
        return LoadLangTransforms(Dir(), passedOver);
    }

    qztest::TempDir m_dir;
    std::wstringbuf m_log;
};

TEST_F(LangCatalogueTest, ListsEveryTransformWithItsLanguageInListingOrder) {
    // File name -> the value the transform gives ProductLanguage, and the id it must yield.
    struct Entry {
        std::wstring value;
        WORD id;
    };
    const std::map<std::wstring, Entry> entries = {
        {L"fr.mst", {L"1036", 1036}},       {L"de.mst", {L"1031abc", 1031}},    {L"letters.mst", {L"abc", 0}},
        {L"wrapped.mst", {L"66567", 1031}}, {L"de-again.mst", {L"1031", 1031}}, {L"zh.mst", {L"2052", 2052}},
    };
    for (const auto& entry : entries)
        Transform(entry.first, entry.second.value);
    // A customisation transform that leaves the language alone.
    qztest::WriteTransform({{{L"ProductName", L"Custom"}}, {}, 1252}, Dir() + L"custom.mst");
    qztest::WriteFileBytes(Dir() + L"package.msi", "not listed");

    std::vector<std::wstring> passedOver;
    const LangItems catalogue = Load(&passedOver);

    std::vector<std::wstring> expectedPaths, expectedLines;
    std::vector<WORD> expectedIds;
    for (const auto& name : Listing(Dir() + L"*.mst")) {
        const std::wstring path = Dir() + name;
        const auto entry = entries.find(name);
        if (entry == entries.end()) {
            expectedLines.push_back(NotTransformLine(path));
            continue;
        }
        expectedPaths.push_back(path);
        expectedIds.push_back(entry->second.id);
        expectedLines.push_back(FoundLine(path, entry->second.id));
    }
    ASSERT_EQ(entries.size(), expectedPaths.size());
    EXPECT_EQ(std::vector<std::wstring>{Dir() + L"custom.mst"}, passedOver);

    std::vector<std::wstring> paths;
    std::vector<WORD> ids;
    for (const auto& item : catalogue) {
        paths.push_back(item.text);
        ids.push_back(item.langId);
    }
    EXPECT_EQ(expectedPaths, paths);
    EXPECT_EQ(expectedIds, ids);
    EXPECT_EQ(expectedLines, LogLines());
}

TEST_F(LangCatalogueTest, ADirectoryWithoutTransformsGivesAnEmptyCatalogueSilently) {
    qztest::WriteFileBytes(Dir() + L"package.msi", "x");
    qztest::WriteFileBytes(Dir() + L"notes.txt", "x");
    EXPECT_TRUE(Load().empty());
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(LangCatalogueTest, AnEntryThatIsNoTransformStopsTheScan) {
    struct Case {
        const char* what;
        void (*make)(const std::wstring& path);
    };
    const Case cases[] = {
        {"a text file",
         [](const std::wstring& path) { qztest::WriteFileBytes(path, "not a transform\r\n"); }},
        {"an empty file", [](const std::wstring& path) { qztest::WriteFileBytes(path, ""); }},
        {"a directory",
         [](const std::wstring& path) { ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        qztest::TempDir dir;
        for (const wchar_t* name : {L"a.mst", L"b.mst", L"c.mst"})
            qztest::WriteLanguageTransform(dir / name, 1036);
        c.make(dir / L"bad.mst");

        std::wstringbuf log;
        {
            LogStreamCapture capture(log);
            EXPECT_THROW(LoadLangTransforms(dir.path()), MSIException);
        }
        // Every transform listed before the bad entry was looked at, none after it.
        std::vector<std::wstring> expected;
        for (const auto& name : Listing(dir / L"*.mst")) {
            if (name == L"bad.mst")
                break;
            expected.push_back(FoundLine(dir / name, 1036));
        }
        std::vector<std::wstring> lines = qztest::SplitLines(log.str());
        if (!lines.empty() && lines.back().empty())
            lines.pop_back();
        EXPECT_EQ(expected, lines);
    }
}

TEST_F(LangCatalogueTest, AMissingDirectoryRaises) {
    LogStreamCapture capture(m_log);
    try {
        LoadLangTransforms(Dir() + L"missing\\");
        ADD_FAILURE() << "no exception";
    } catch (const WinException& e) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), e.GetError());
    }
}

} // namespace
