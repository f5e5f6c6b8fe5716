#include "system/smart_buffer.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "system/errors.h"

namespace {

// The allocation failure reported by the buffer allocator, under the text the
// log shows for it.
struct BadAllocation : std::bad_alloc {
    const char* what() const noexcept override { return "bad allocation"; }
};

} // namespace

wchar_t* smart_buffer_allocator<wchar_t>::_allocate(std::size_t count, wchar_t* block) {
    void* result = nullptr;
    if (count <= SIZE_MAX / sizeof(wchar_t))
        result = std::realloc(block, count * sizeof(wchar_t));
    if (!result && count != 0)
        ThrowBadAlloc(BadAllocation(), L" Fnc : smart_buffer_allocator<wchar_t>::_allocate; Line : 46; ");
    return static_cast<wchar_t*>(result);
}

char* smart_buffer_allocator<char>::_allocate(std::size_t count) {
    void* result = std::malloc(count);
    if (!result && count != 0)
        ThrowBadAlloc(BadAllocation(), L" Fnc : smart_buffer_allocator<char>::_allocate; Line : 46; ");
    return static_cast<char*>(result);
}

namespace detail {

wchar_t* smart_buffer_grow(wchar_t* inlineArray, wchar_t* first, std::size_t used, std::size_t n) {
    if (first && first != inlineArray)
        return smart_buffer_allocator<wchar_t>::_allocate(n, first); // grown in place, contents kept
    wchar_t* block = smart_buffer_allocator<wchar_t>::_allocate(n, nullptr);
    if (first && used)
        std::memcpy(block, first, used * sizeof(wchar_t));
    return block;
}

char* smart_buffer_grow(char* inlineArray, char* first, std::size_t used, std::size_t n) {
    // The narrow allocator only hands out new blocks: move the contents over
    // and give an old heap block back.
    char* block = smart_buffer_allocator<char>::_allocate(n);
    if (first && used)
        std::memcpy(block, first, used);
    if (first && first != inlineArray)
        std::free(first);
    return block;
}

} // namespace detail
