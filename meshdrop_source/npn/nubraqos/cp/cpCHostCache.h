#pragma once
// Remembers the addresses of each (host, port), IPv6 and IPv4, and which of
// them worked or failed, so that a connection tries a working address first
// and leaves one that failed recently for last.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cp/cpAddress.h"
#include "ov/ovResult.h"

class cpCHostCache {
public:
    // Look-up used to (re)resolve an entry: all addresses of a name, of both
    // families, in the resolver's order. Replaceable for tests.
    using ResolveFn = OVRESULT (*)(const char* name, std::vector<cpAddress>* addresses);

    // The process's cache.
    static cpCHostCache& GetInstance();

    // A working address first, else (re-resolving when the last look-up is
    // more than 4 seconds old) the first known one; false when none is known.
    bool GetAddress(const char* host, std::uint16_t port, cpAddress* address);
    // Every known address in the order a connection tries them (re-resolving
    // as GetAddress does): the working ones first, then those that have not
    // failed lately with the two families taking turns (starting with the
    // family of the first; each family in the cache's order), then the ones
    // that failed lately. GetAddress answers the first of them. False when
    // none is known.
    bool GetAddresses(const char* host, std::uint16_t port, std::vector<cpAddress>* addresses);
    void MarkFailed(const char* host, std::uint16_t port, const cpAddress& address);
    void MarkWorking(const char* host, std::uint16_t port, const cpAddress& address);

    void SetResolver(ResolveFn resolve);
    void Clear();

    struct AddressItem {
        cpAddress address;
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
    // The entry of (host, port), made and resolved when new, resolved again
    // when it has no working address and its look-up is old; null for an
    // empty host.
    HostEntry* Refresh(const char* host, std::uint16_t port);
    // Removes the address's item from its entry and hands it out.
    bool TakeItem(const char* host, std::uint16_t port, const cpAddress& address, HostEntry** entry, AddressItem* item);

    std::map<std::string, HostEntry> m_entries;
    ResolveFn m_resolve = nullptr;
};
