#include "cp/cpQoSContextIo.h"

#include <algorithm>
#include <cstring>

std::uint32_t cpCReceiveBuffer::Reserve(std::uint32_t wanted)
{
    const std::uint32_t allowed = std::min(wanted, kMaxSize - std::min(m_held, kMaxSize));
    if (allowed == 0) {
        return 0;
    }
    const std::uint32_t needed = m_held + allowed;
    if (needed > m_capacity) {
        std::uint32_t capacity = m_capacity ? m_capacity : kInitialSize;
        while (capacity < needed) {
            capacity = capacity > kMaxSize / 2 ? kMaxSize : capacity * 2;
        }
        auto* grown = static_cast<std::uint8_t*>(std::realloc(m_data, capacity));
        if (!grown) {
            return 0;
        }
        m_data = grown;
        m_capacity = capacity;
    }
    return allowed;
}

void cpCReceiveBuffer::Consume(std::uint32_t bytes)
{
    if (bytes == 0) {
        return;
    }
    if (bytes >= m_held) {
        m_held = 0;
        if (m_capacity > kRetainedSize) {
            Release();
        }
        return;
    }
    std::memmove(m_data, m_data + bytes, m_held - bytes);
    m_held -= bytes;
}

void cpCReceiveBuffer::Release()
{
    std::free(m_data);
    m_data = nullptr;
    m_held = 0;
    m_capacity = 0;
}
