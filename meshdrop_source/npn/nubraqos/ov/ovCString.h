#pragma once
// The library's byte string: narrow characters, no encoding assumed, always
// zero-terminated. Strings of up to 3 bytes live in the object itself; longer
// ones in a heap block that appends reallocate to the exact new size.

#include <cstddef>
#include <cstdint>

class ovCString {
public:
    ovCString() = default;
    ovCString(const char* text);
    ovCString(const char* bytes, std::uint32_t length);
    explicit ovCString(char ch);
    ovCString(const ovCString& other);
    ovCString(ovCString&& other) noexcept;
    ~ovCString();

    ovCString& operator=(const ovCString& other);
    ovCString& operator=(ovCString&& other) noexcept;
    ovCString& operator=(const char* text);

    // A null text, or one whose first byte is zero, empties the string.
    void Assign(const char* text);
    void Assign(const char* bytes, std::uint32_t length);

    // On a failed allocation the string keeps its old value and false is returned.
    bool Append(const char* text);
    bool Append(const char* bytes, std::uint32_t length);
    bool Append(const ovCString& other);

    const char* GetString() const;
    std::uint32_t GetLength() const { return m_length; }
    bool IsEmpty() const { return m_length == 0; }
    void Empty();

    // Empty when count exceeds 0x100000 or start lies beyond the end.
    ovCString Mid(std::uint32_t start, std::uint32_t count) const;
    // Byte offset of the first occurrence of `text` at or after `from`, or -1.
    int Find(const char* text, std::uint32_t from = 0) const;
    int Compare(const ovCString& other) const;
    int Compare(const char* text) const;
    bool Equals(const ovCString& other) const { return Compare(other) == 0; }
    bool Equals(const char* text) const { return Compare(text) == 0; }
    bool operator==(const ovCString& other) const { return Equals(other); }
    bool operator==(const char* text) const { return Equals(text); }
    void MakeLower();

    // True when the characters live in a heap block (length 4 or more).
    bool UsesHeap() const { return m_length > kInlineMax; }

    static constexpr std::uint32_t kInlineMax = 3;
    static constexpr std::uint32_t kMaxMid = 0x100000;

private:
    void SetInline(const char* bytes, std::uint32_t length);
    void FreeBlock();

    std::uint32_t m_length = 0;
    // Short strings keep their bytes and terminator here; long ones a pointer.
    union {
        char inlineBytes[sizeof(char*)];
        char* block;
    } m_storage{};
};
