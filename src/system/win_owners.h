// Owners of Windows resources: one small type per kind of resource, each
// releasing what it holds on every path. Move-only, no implicit conversion.
#pragma once
#include <windows.h>

template <class Traits> class unique_resource {
public:
    using pointer = typename Traits::pointer;

    constexpr unique_resource() noexcept = default;
    explicit unique_resource(pointer value) noexcept : m_value(value) {}
    unique_resource(unique_resource&& other) noexcept : m_value(other.release()) {}
    unique_resource& operator=(unique_resource&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    unique_resource(const unique_resource&) = delete;
    unique_resource& operator=(const unique_resource&) = delete;
    ~unique_resource() { reset(); }

    pointer get() const noexcept { return m_value; }
    // Releases the current resource and gives the place for a call that
    // hands out a new one through a pointer (FormatMessageW's allocated buffer).
    pointer* put() noexcept {
        reset();
        return &m_value;
    }
    bool valid() const noexcept { return Traits::IsValid(m_value); }
    // Releases the current resource and takes `value`.
    void reset(pointer value = Traits::Invalid()) noexcept {
        if (Traits::IsValid(m_value))
            Traits::Close(m_value);
        m_value = value;
    }
    pointer release() noexcept {
        pointer value = m_value;
        m_value = Traits::Invalid();
        return value;
    }

private:
    pointer m_value = Traits::Invalid();
};

namespace detail {

struct FileHandleTraits {
    using pointer = HANDLE;
    static pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(pointer h) noexcept { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(pointer h) noexcept { CloseHandle(h); }
};

struct FindHandleTraits {
    using pointer = HANDLE;
    static pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(pointer h) noexcept { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(pointer h) noexcept { FindClose(h); }
};

struct KernelHandleTraits {
    using pointer = HANDLE;
    static constexpr pointer Invalid() noexcept { return nullptr; }
    static bool IsValid(pointer h) noexcept { return h != nullptr; }
    static void Close(pointer h) noexcept { CloseHandle(h); }
};

struct WindowTraits {
    using pointer = HWND;
    static constexpr pointer Invalid() noexcept { return nullptr; }
    static bool IsValid(pointer h) noexcept { return h != nullptr; }
    static void Close(pointer h) noexcept { DestroyWindow(h); }
};

struct ModuleTraits {
    using pointer = HMODULE;
    static constexpr pointer Invalid() noexcept { return nullptr; }
    static bool IsValid(pointer h) noexcept { return h != nullptr; }
    static void Close(pointer h) noexcept { FreeLibrary(h); }
};

struct RegistryKeyTraits {
    using pointer = HKEY;
    static constexpr pointer Invalid() noexcept { return nullptr; }
    static bool IsValid(pointer h) noexcept { return h != nullptr; }
    static void Close(pointer h) noexcept { RegCloseKey(h); }
};

struct LocalMemoryTraits {
    using pointer = HLOCAL;
    static constexpr pointer Invalid() noexcept { return nullptr; }
    static bool IsValid(pointer h) noexcept { return h != nullptr; }
    static void Close(pointer h) noexcept { LocalFree(h); }
};

} // namespace detail

// A handle from CreateFileW.
using UniqueFileHandle = unique_resource<detail::FileHandleTraits>;
// A search from FindFirstFileW.
using UniqueFindHandle = unique_resource<detail::FindHandleTraits>;
// A kernel object whose open or create call gives null on failure (OpenMutexW, CreateEventW, ...).
using UniqueKernelHandle = unique_resource<detail::KernelHandleTraits>;
// A window this program created (a modeless dialog, say).
using UniqueWindow = unique_resource<detail::WindowTraits>;
// A module from LoadLibrary(Ex)W.
using UniqueModule = unique_resource<detail::ModuleTraits>;
// A registry key from RegOpenKeyExW or RegCreateKeyExW.
using UniqueRegistryKey = unique_resource<detail::RegistryKeyTraits>;
// A block from LocalAlloc, or one the system allocated that way for the caller
// (FormatMessageW with FORMAT_MESSAGE_ALLOCATE_BUFFER, CommandLineToArgvW).
using UniqueLocalMemory = unique_resource<detail::LocalMemoryTraits>;
