#pragma once
// Remembers the addresses of each (host, port) and which of them worked or
// failed, so that a connection tries a working address first and leaves one
// that failed recently for last.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ov/ovResult.h"

class cpCHostCache {
public:
    // Look-up used to (re)resolve an entry: all IPv4 addresses of a name in
    // network byte order. Replaceable for tests.
    using ResolveFn = OVRESULT (*)(const char* name, std::vector<std::uint32_t>* addresses);

    // The process's cache.
    static cpCHostCache& GetInstance();

    // A working address first, else (re-resolving when the last look-up is
    // more than 4 seconds old) the first known one; false when none is known.
    bool GetAddress(const char* host, std::uint16_t port, std::uint32_t* address);
    void MarkFailed(const char* host, std::uint16_t port, std::uint32_t address);
    void MarkWorking(const char* host, std::uint16_t port, std::uint32_t address);

    void SetResolver(ResolveFn resolve);
    void Clear();

    struct AddressItem {
        std::uint32_t address = 0;
        bool working = false;
        std::uint32_t lastFailure = 0; // whole seconds, 0 = none
    };
    // The entry's addresses in their current order (empty when unknown).
    std::vector<AddressItem> GetItems(const char* host, std::uint16_t port) const;

    static constexpr std::uint32_t kReResolveSeconds = 4;
    static constexpr std::uint32_t kFailureMemorySeconds = 30;
    static constexpr int kMaxAddresses = 32;

private:
    struct HostEntry {
        std::string host;
        std::uint16_t port = 0;
        std::uint32_t resolvedAt = 0;
        std::vector<AddressItem> items;
    };

    static std::string Key(const char* host, std::uint16_t port);
    void Resolve(HostEntry& entry);
    HostEntry* Find(const char* host, std::uint16_t port);
    // Removes the address's item from its entry and hands it out.
    bool TakeItem(const char* host, std::uint16_t port, std::uint32_t address, HostEntry** entry, AddressItem* item);

    std::map<std::string, HostEntry> m_entries;
    ResolveFn m_resolve = nullptr;
};
