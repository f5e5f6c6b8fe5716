// A small-buffer-optimised text buffer: short texts stay in place, longer
// ones live on the heap, which the buffer gives back on every path.
#pragma once
#include <cstddef>
#include <cstdlib>

// Allocator of smart_buffer heap blocks; reports exhaustion through ThrowBadAlloc.
template <class T> struct smart_buffer_allocator;

template <> struct smart_buffer_allocator<wchar_t> {
    // Grows `block` (or allocates when null) to `count` elements, keeping its contents.
    static wchar_t* _allocate(std::size_t count, wchar_t* block);
};

template <> struct smart_buffer_allocator<char> {
    // Always a new block of `count` bytes.
    static char* _allocate(std::size_t count);
};

// A buffer with room for N elements in place; larger sizes live on the heap.
template <class T, std::size_t N> class smart_buffer {
public:
    smart_buffer() = default;
    explicit smart_buffer(std::size_t n) { resize(n); }
    smart_buffer(const smart_buffer&) = delete;
    smart_buffer& operator=(const smart_buffer&) = delete;
    ~smart_buffer() {
        if (m_first && m_first != m_inline)
            std::free(m_first);
    }

    void resize(std::size_t n);
    T* begin() { return m_first; }
    T* end() { return m_last; }
    const T* begin() const { return m_first; }
    const T* end() const { return m_last; }
    T* data() { return m_first; }
    std::size_t size() const { return static_cast<std::size_t>(m_last - m_first); }
    // True while the elements live in the inline array.
    bool is_inline() const { return m_first == m_inline; }

private:
    T m_inline[N];
    T* m_first = nullptr;
    T* m_last = nullptr;
};

namespace detail {
wchar_t* smart_buffer_grow(wchar_t* inlineArray, wchar_t* first, std::size_t used, std::size_t n);
char* smart_buffer_grow(char* inlineArray, char* first, std::size_t used, std::size_t n);
} // namespace detail

template <class T, std::size_t N> void smart_buffer<T, N>::resize(std::size_t n) {
    const std::size_t current = size();
    if (n > current) {
        if (n > N)
            m_first = detail::smart_buffer_grow(m_inline, m_first, current, n);
        else if (!m_first)
            m_first = m_inline;
    }
    m_last = m_first + n;
}
