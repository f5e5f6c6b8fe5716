#include "system/errors.h"

#include <gtest/gtest.h>

#include <msiquery.h>

#include <sstream>
#include <string>
#include <system_error>

#include "diag/bootstrap_log.h"
#include "diag/text_conversion.h"
#include "system/msi_api.h"
#include "support/test_env.h"

namespace {

using QZ::MSInstaller::Msi;

// An error number no system has a text for.
constexpr DWORD kUnknownError = 0x2000FFFF;

std::string Ansi(const std::wstring& text) {
    return _Uni2Mb(text.c_str()).get();
}

std::wstring ErrorLine(const std::wstring& code, const wchar_t* location, const std::wstring& description) {
    return L"QZSETUP:BOOTSTRAP:ERR:" + code + L":Error occured at " + location + L".\nError description: " +
           description + L".\r\n";
}

TEST(ThrowWinException, LogsLocationAndSystemTextWithTheUnsignedCode) {
    struct Case {
        DWORD error;
        const wchar_t* location;
        const wchar_t* code;
    };
    const Case cases[] = {
        {ERROR_FILE_NOT_FOUND, L" Fnc : RunPackage; Line : 200; ", L"2"},
        {0x80070005, L" Fnc : MsiSQL::SQLView::Execute; Line : 78; ", L"2147942405"},
        {kUnknownError, L" Fnc : `anonymous-namespace'::_ExistsArchive; Line : 23; ", L"536936447"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        std::wstringbuf log;
        LogStreamCapture capture(log);
        try {
            ThrowWinException(c.error, c.location);
            ADD_FAILURE() << "did not throw";
        } catch (const WinException& e) {
            EXPECT_EQ(c.error, e.GetError());
        }
        EXPECT_EQ(ErrorLine(c.code, c.location, qztest::SystemText(c.error)), log.str());
    }
}

TEST(ThrowWinException, UnknownNumberLeavesAnEmptyDescription) {
    std::wstring text = L"stale";
    EXPECT_FALSE(GetSystemErrorText(kUnknownError, text));
    EXPECT_EQ(L"", text);

    std::wstringbuf log;
    LogStreamCapture capture(log);
    EXPECT_THROW(ThrowWinException(kUnknownError, L" Fnc : GetModuleDir; Line : 12; "), WinException);
    EXPECT_NE(std::wstring::npos, log.str().find(L"\nError description: .\r\n"));
}

TEST(GetSystemErrorText, KeepsTheSystemTextAsItIs) {
    std::wstring text;
    ASSERT_TRUE(GetSystemErrorText(ERROR_FILE_NOT_FOUND, text));
    EXPECT_EQ(qztest::SystemText(ERROR_FILE_NOT_FOUND), text);
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(L"\r\n", text.substr(text.size() - 2));
}

// A system text with an insert ("%1 is not a valid Win32 application.") has
// no arguments to take: it comes out with the insert left in place.
TEST(GetSystemErrorText, LeavesInsertsOfSystemTextsAlone) {
    std::wstring text;
    ASSERT_TRUE(GetSystemErrorText(ERROR_BAD_EXE_FORMAT, text));
    EXPECT_NE(std::wstring::npos, text.find(L"%1")) << qztest::ToUtf8(text);
    EXPECT_STRNE("Failed to translate the windows error code to text.",
                 WinException(ERROR_BAD_EXE_FORMAT).what());
}

TEST(WinException, DescribesItsErrorOnceInTheAnsiCodePage) {
    const WinException known(ERROR_FILE_NOT_FOUND);
    const char* first = known.what();
    EXPECT_EQ(Ansi(qztest::SystemText(ERROR_FILE_NOT_FOUND)), first);
    EXPECT_EQ(first, known.what()) << "the text is built once and kept";

    const WinException copy(known);
    EXPECT_STREQ(first, copy.what());
    EXPECT_NE(first, copy.what()) << "a copy builds its own text";

    EXPECT_STREQ("Failed to translate the windows error code to text.", WinException(kUnknownError).what());
    const std::runtime_error& asBase = known;
    EXPECT_EQ(first, asBase.what());
}

MSIHANDLE NewRecord(const wchar_t* templateText, const wchar_t* field) {
    const MSIHANDLE record = Msi().CreateRecord(1);
    Msi().RecordSetStringW(record, 0, templateText);
    Msi().RecordSetStringW(record, 1, field);
    return record;
}

TEST(MSIException, TextComesFromTheRecordOrFallsBackToTheSystem) {
    const MSIException withRecord(ERROR_INSTALL_FAILURE, NewRecord(L"Widget [1] failed", L"disk"));
    EXPECT_STREQ("Widget disk failed", withRecord.what());
    EXPECT_EQ(withRecord.what(), withRecord.what());
    const WinException& asWin = withRecord;
    EXPECT_STREQ("Widget disk failed", asWin.what());

    const MSIException noRecord(ERROR_FILE_NOT_FOUND, 0);
    EXPECT_STREQ(WinException(ERROR_FILE_NOT_FOUND).what(), noRecord.what());
}

TEST(MSIException, CopiesShareTheRecordAndCloseItOnce) {
    const MSIHANDLE record = Msi().CreateRecord(1);
    ASSERT_NE(0u, record);
    ASSERT_EQ(0u, Msi().RecordSetInteger(record, 1, 42));
    {
        auto original = std::make_unique<MSIException>(1627u, record);
        const MSIException copy(*original);
        EXPECT_EQ(record, copy.GetRecord());
        EXPECT_EQ(1627u, copy.GetError());
        original.reset();
        EXPECT_EQ(42, Msi().RecordGetInteger(record, 1)) << "closed while a copy still holds it";
    }
    EXPECT_EQ(static_cast<UINT>(ERROR_INVALID_HANDLE), Msi().CloseHandle(record))
        << "the record was not closed";
}

TEST(ThrowMSIException, ThrowsWithoutLogging) {
    std::wstringbuf log;
    LogStreamCapture capture(log);
    const MSIHANDLE record = NewRecord(L"[1]", L"broken view");
    try {
        ThrowMSIException(record, 1615, L" Fnc : MsiSQL::SQLView::Create; Line : 50; ");
        ADD_FAILURE() << "did not throw";
    } catch (const WinException& e) {
        EXPECT_EQ(1615u, e.GetError());
        EXPECT_STREQ("broken view", e.what());
        ASSERT_NE(nullptr, dynamic_cast<const MSIException*>(&e));
        EXPECT_EQ(record, dynamic_cast<const MSIException&>(e).GetRecord());
    }
    EXPECT_EQ(L"", log.str());
}

// The family that logs the standard exception's own text, without a code, and
// throws a copy of the given type.
TEST(ThrowStandardFailures, LogTheirTextAndThrowTheirType) {
    std::wstringbuf log;
    LogStreamCapture capture(log);

    const std::ios_base::failure ios("stream broke", std::io_errc::stream);
    try {
        ThrowIosFailure(ios, L" Fnc : LoadPIFRspFile; Line : 117; ");
        ADD_FAILURE() << "did not throw";
    } catch (const std::ios_base::failure& e) {
        EXPECT_STREQ(ios.what(), e.what());
        EXPECT_EQ(std::make_error_code(std::io_errc::stream), e.code());
    }
    EXPECT_EQ(ErrorLine(L"", L" Fnc : LoadPIFRspFile; Line : 117; ", _Mb2Uni(ios.what()).get()), log.str());

    log.str(std::wstring());
    try {
        ThrowRuntimeError(std::runtime_error("help file caf\xE9"));
        ADD_FAILURE() << "did not throw";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("help file caf\xE9", e.what());
    }
    EXPECT_EQ(ErrorLine(L"", L" Fnc : DisplayHelp; Line : 120; ", _Mb2Uni("help file caf\xE9").get()),
              log.str());

    log.str(std::wstring());
    EXPECT_THROW(
        ThrowBadAlloc(std::bad_alloc(), L" Fnc : smart_buffer_allocator<char>::_allocate; Line : 46; "),
        std::bad_alloc);
    EXPECT_EQ(ErrorLine(L"", L" Fnc : smart_buffer_allocator<char>::_allocate; Line : 46; ",
                        _Mb2Uni(std::bad_alloc().what()).get()),
              log.str());
}

// The thrown copy describes itself as the given exception did: the log line
// and the run's result text say the same. A stream failure's standard text
// would gain the description of its error code.
TEST(ThrowStandardFailures, CopiesKeepTheGivenText) {
    std::wstringbuf log;
    LogStreamCapture capture(log);

    struct NamedBadAlloc : std::bad_alloc {
        const char* what() const noexcept override { return "bad allocation"; }
    };
    try {
        ThrowBadAlloc(NamedBadAlloc(), L" Fnc : smart_buffer_allocator<wchar_t>::_allocate; Line : 46; ");
        ADD_FAILURE() << "did not throw";
    } catch (const std::bad_alloc& e) {
        EXPECT_STREQ("bad allocation", e.what());
    }

    const StreamFailure failure("Failed to open C:\\x.dat file.");
    EXPECT_STREQ("Failed to open C:\\x.dat file.", failure.what());
    EXPECT_EQ(std::make_error_code(std::io_errc::stream), failure.code());
    try {
        ThrowIosFailure(failure, L" Fnc : LoadPIFRspFile; Line : 117; ");
        ADD_FAILURE() << "did not throw";
    } catch (const std::ios_base::failure& e) {
        EXPECT_STREQ("Failed to open C:\\x.dat file.", e.what());
        EXPECT_EQ(std::make_error_code(std::io_errc::stream), e.code());
    }
    EXPECT_EQ(
        ErrorLine(L"", L" Fnc : smart_buffer_allocator<wchar_t>::_allocate; Line : 46; ", L"bad allocation") +
            ErrorLine(L"", L" Fnc : LoadPIFRspFile; Line : 117; ", L"Failed to open C:\\x.dat file."),
        log.str());
}

} // namespace
