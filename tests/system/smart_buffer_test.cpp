#include "system/smart_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <sstream>
#include <string>

#include "diag/bootstrap_log.h"

namespace {

template <class T> void Fill(T* first, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        first[i] = static_cast<T>('A' + i % 26);
}

template <class T> bool Holds(const T* first, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        if (first[i] != static_cast<T>('A' + i % 26))
            return false;
    return true;
}

template <class T> void CheckInlineLimitAndGrowth() {
    {
        smart_buffer<T, 100> atLimit(100);
        EXPECT_TRUE(atLimit.is_inline());
        EXPECT_EQ(100u, atLimit.size());
        smart_buffer<T, 100> beyond(101);
        EXPECT_FALSE(beyond.is_inline());
        EXPECT_EQ(101u, beyond.size());
    }
    smart_buffer<T, 100> buffer(50);
    ASSERT_TRUE(buffer.is_inline());
    Fill(buffer.data(), 50);
    buffer.resize(150);
    EXPECT_FALSE(buffer.is_inline());
    EXPECT_EQ(150u, buffer.size());
    EXPECT_TRUE(Holds(buffer.data(), 50)) << "contents lost moving to the heap";
    Fill(buffer.data(), 150);
    buffer.resize(5000);
    EXPECT_TRUE(Holds(buffer.data(), 150)) << "contents lost growing a heap block";
    buffer.resize(10);
    EXPECT_EQ(10u, buffer.size());
    EXPECT_TRUE(Holds(buffer.data(), 10));
}

TEST(SmartBuffer, StaysInlineUpToItsSizeAndKeepsContentsWhenGrowing) {
    {
        SCOPED_TRACE("wide");
        CheckInlineLimitAndGrowth<wchar_t>();
    }
    {
        SCOPED_TRACE("narrow");
        CheckInlineLimitAndGrowth<char>();
    }
    smart_buffer<wchar_t, 100> unsized;
    EXPECT_EQ(0u, unsized.size());
    unsized.resize(3);
    EXPECT_TRUE(unsized.is_inline());
}

TEST(SmartBufferAllocator, ReportsExhaustionWithItsLocation) {
    std::wstringbuf log;
    LogStreamCapture capture(log);

    std::free(smart_buffer_allocator<wchar_t>::_allocate(0, nullptr));
    std::free(smart_buffer_allocator<char>::_allocate(0));
    EXPECT_EQ(L"", log.str()) << "a count of 0 is not a failure";

    struct Case {
        const char* name;
        void (*allocate)();
        const wchar_t* location;
    };
    const Case cases[] = {
        {"wide", [] { smart_buffer_allocator<wchar_t>::_allocate(SIZE_MAX / 2 + 2, nullptr); },
         L" Fnc : smart_buffer_allocator<wchar_t>::_allocate; Line : 46; "},
        {"narrow", [] { smart_buffer_allocator<char>::_allocate(SIZE_MAX - 16); },
         L" Fnc : smart_buffer_allocator<char>::_allocate; Line : 46; "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.str(std::wstring());
        try {
            c.allocate();
            ADD_FAILURE() << "did not throw";
        } catch (const std::bad_alloc& e) {
            // The run's result text is what() of the thrown failure: the same
            // words as the log line, not the runtime's "std::bad_alloc".
            EXPECT_STREQ("bad allocation", e.what());
        }
        EXPECT_EQ(std::wstring(L"QZSETUP:BOOTSTRAP:ERR::Error occured at ") + c.location +
                      L".\nError description: bad allocation.\r\n",
                  log.str());
    }
}

} // namespace
