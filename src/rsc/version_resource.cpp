#include "rsc/version_resource.h"

#include <cstring>

namespace {

// One block of a version resource: its length in bytes, the length of its
// value, its type (1: text, in characters; 0: binary, in bytes), its key,
// padding to 32 bits, the value, padding, then its children (blocks again).
struct Block {
    std::wstring key;
    const wchar_t* text = nullptr; // the value of a text block
    std::size_t textLength = 0;
    std::size_t children = 0; // offsets in the resource
    std::size_t end = 0;
};

std::size_t Align(std::size_t offset) {
    return (offset + 3) & ~static_cast<std::size_t>(3);
}

// The block at `offset`, which must end by `limit`. False for a block that
// does not fit.
bool ReadBlock(const unsigned char* bytes, std::size_t offset, std::size_t limit, Block& block) {
    if (offset + 6 > limit)
        return false;
    WORD header[3];
    std::memcpy(header, bytes + offset, sizeof header);
    const std::size_t length = header[0];
    if (length < 6 || offset + length > limit)
        return false;
    block.end = offset + length;
    std::size_t at = offset + 6;
    block.key.clear();
    for (;;) {
        if (at + 2 > block.end)
            return false;
        wchar_t c;
        std::memcpy(&c, bytes + at, sizeof c);
        at += 2;
        if (c == L'\0')
            break;
        block.key += c;
    }
    at = Align(at);
    const std::size_t valueBytes = header[2] == 1 ? header[1] * std::size_t{2} : header[1];
    if (at > block.end || valueBytes > block.end - at)
        return false;
    block.text = nullptr;
    block.textLength = 0;
    if (header[2] == 1 && valueBytes > 0) {
        // The text as the resource holds it, up to its terminator.
        block.text = reinterpret_cast<const wchar_t*>(bytes + at);
        std::size_t count = valueBytes / 2;
        std::size_t length = 0;
        while (length < count) {
            wchar_t c;
            std::memcpy(&c, bytes + at + length * 2, sizeof c);
            if (c == L'\0')
                break;
            ++length;
        }
        block.textLength = length;
    }
    block.children = Align(at + valueBytes);
    return true;
}

// The child of the block at [children, end) whose key is `key`; any child
// when `key` is null.
bool FindChild(const unsigned char* bytes, std::size_t children, std::size_t end, const wchar_t* key,
               Block& found) {
    std::size_t at = children;
    while (at < end) {
        Block child;
        if (!ReadBlock(bytes, at, end, child))
            return false;
        if (!key || child.key == key) {
            found = child;
            return true;
        }
        at = Align(child.end);
    }
    return false;
}

} // namespace

std::wstring FileVersionIn(const void* resource, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(resource);
    Block root, strings, table, version;
    if (!resource || !ReadBlock(bytes, 0, size, root) || root.key != L"VS_VERSION_INFO" ||
        !FindChild(bytes, root.children, root.end, L"StringFileInfo", strings))
        return std::wstring();
    if (!FindChild(bytes, strings.children, strings.end, L"040904B0", table) &&
        !FindChild(bytes, strings.children, strings.end, L"040904b0", table) &&
        !FindChild(bytes, strings.children, strings.end, nullptr, table))
        return std::wstring();
    if (!FindChild(bytes, table.children, table.end, L"FileVersion", version) || !version.text)
        return std::wstring();
    std::wstring text(version.textLength, L'\0');
    std::memcpy(&text[0], version.text, version.textLength * sizeof(wchar_t));
    return text;
}

std::wstring FileVersionOf(HMODULE module) {
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), RT_VERSION);
    const void* data = found ? LockResource(LoadResource(module, found)) : nullptr;
    return data ? FileVersionIn(data, SizeofResource(module, found)) : std::wstring();
}
