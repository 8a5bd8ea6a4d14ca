#include "ov/ovCString.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

std::uint32_t TextLength(const char* text)
{
    return text ? static_cast<std::uint32_t>(std::strlen(text)) : 0;
}

} // namespace

ovCString::ovCString(const char* text)
{
    Assign(text);
}

ovCString::ovCString(const char* bytes, std::uint32_t length)
{
    Assign(bytes, length);
}

ovCString::ovCString(char ch)
{
    Assign(&ch, 1);
}

ovCString::ovCString(const ovCString& other)
{
    Assign(other.GetString(), other.m_length);
}

ovCString::ovCString(ovCString&& other) noexcept
    : m_length(std::exchange(other.m_length, 0)), m_storage(other.m_storage)
{
    other.m_storage = {};
}

ovCString::~ovCString()
{
    FreeBlock();
}

ovCString& ovCString::operator=(const ovCString& other)
{
    if (this != &other) {
        Assign(other.GetString(), other.m_length);
    }
    return *this;
}

ovCString& ovCString::operator=(ovCString&& other) noexcept
{
    if (this != &other) {
        FreeBlock();
        m_length = std::exchange(other.m_length, 0);
        m_storage = other.m_storage;
        other.m_storage = {};
    }
    return *this;
}

ovCString& ovCString::operator=(const char* text)
{
    Assign(text);
    return *this;
}

void ovCString::FreeBlock()
{
    if (UsesHeap()) {
        std::free(m_storage.block);
    }
    m_storage = {};
}

void ovCString::SetInline(const char* bytes, std::uint32_t length)
{
    char copy[sizeof(m_storage.inlineBytes)] = {};
    std::memcpy(copy, bytes, length);
    FreeBlock();
    std::memcpy(m_storage.inlineBytes, copy, sizeof(copy));
    m_length = length;
}

void ovCString::Assign(const char* text)
{
    Assign(text, TextLength(text));
}

void ovCString::Assign(const char* bytes, std::uint32_t length)
{
    if (!bytes || length == 0 || bytes[0] == '\0') {
        Empty();
        return;
    }
    if (length <= kInlineMax) {
        SetInline(bytes, length);
        return;
    }
    if (UsesHeap() && m_length >= length) {
        // The block is large enough: reuse it (the source may lie inside it).
        std::memmove(m_storage.block, bytes, length);
        std::memset(m_storage.block + length, 0, m_length - length + 1);
        m_length = length;
        return;
    }
    char* block = static_cast<char*>(std::calloc(std::size_t{length} + 1, 1));
    if (!block) {
        return;
    }
    std::memcpy(block, bytes, length);
    FreeBlock();
    m_storage.block = block;
    m_length = length;
}

bool ovCString::Append(const char* text)
{
    return Append(text, TextLength(text));
}

bool ovCString::Append(const ovCString& other)
{
    return Append(other.GetString(), other.m_length);
}

bool ovCString::Append(const char* bytes, std::uint32_t length)
{
    if (!bytes || length == 0) {
        return true;
    }
    if (length > UINT32_MAX - 1 - m_length) {
        return false;
    }
    const std::uint32_t total = m_length + length;
    if (total <= kInlineMax) {
        char joined[sizeof(m_storage.inlineBytes)] = {};
        std::memcpy(joined, GetString(), m_length);
        std::memcpy(joined + m_length, bytes, length);
        SetInline(joined, total);
        return true;
    }
    char* block = static_cast<char*>(std::malloc(std::size_t{total} + 1));
    if (!block) {
        return false;
    }
    std::memcpy(block, GetString(), m_length);
    std::memcpy(block + m_length, bytes, length);
    block[total] = '\0';
    FreeBlock();
    m_storage.block = block;
    m_length = total;
    return true;
}

const char* ovCString::GetString() const
{
    if (UsesHeap()) {
        return m_storage.block;
    }
    return m_storage.inlineBytes;
}

void ovCString::Empty()
{
    FreeBlock();
    m_length = 0;
}

ovCString ovCString::Mid(std::uint32_t start, std::uint32_t count) const
{
    if (count > kMaxMid || start > m_length) {
        return {};
    }
    if (count > m_length - start) {
        count = m_length - start;
    }
    return ovCString(GetString() + start, count);
}

int ovCString::Find(const char* text, std::uint32_t from) const
{
    if (!text || from > m_length) {
        return -1;
    }
    const std::uint32_t needle = TextLength(text);
    if (needle > m_length - from) {
        return -1;
    }
    const char* data = GetString();
    for (std::uint32_t at = from; at + needle <= m_length; ++at) {
        if (std::memcmp(data + at, text, needle) == 0) {
            return static_cast<int>(at);
        }
    }
    return -1;
}

int ovCString::Compare(const char* text) const
{
    return std::strcmp(GetString(), text ? text : "");
}

int ovCString::Compare(const ovCString& other) const
{
    return Compare(other.GetString());
}

void ovCString::MakeLower()
{
    char* data = const_cast<char*>(GetString());
    for (std::uint32_t i = 0; i < m_length; ++i) {
        if (data[i] >= 'A' && data[i] <= 'Z') {
            data[i] = static_cast<char>(data[i] - 'A' + 'a');
        }
    }
}
