#include "cp/cpCHostCache.h"

#include <algorithm>
#include <cstdio>

#include "cp/cpClock.h"
#include "cp/cpSocketRecord.h"

namespace {

OVRESULT PlatformResolve(const char* name, std::vector<cpAddress>* addresses)
{
    return cpResolveAll(name, addresses, cpCHostCache::kMaxAddresses);
}

// The items in the order to try them: working ones, then the others that
// have not failed lately with the families taking turns, then the rest.
std::vector<cpAddress> TryOrder(const std::vector<cpCHostCache::AddressItem>& items)
{
    std::vector<cpAddress> order;
    std::vector<cpAddress> fresh[2]; // [0]: the first fresh item's family, [1]: the other
    std::vector<cpAddress> failed;
    for (const cpCHostCache::AddressItem& item : items) {
        if (item.working) {
            order.push_back(item.address);
        } else if (item.lastFailure != 0) {
            failed.push_back(item.address);
        } else {
            const bool first = fresh[0].empty() || fresh[0].front().Family() == item.address.Family();
            fresh[first ? 0 : 1].push_back(item.address);
        }
    }
    for (std::size_t i = 0; i < std::max(fresh[0].size(), fresh[1].size()); ++i) {
        for (const auto& family : fresh) {
            if (i < family.size()) {
                order.push_back(family[i]);
            }
        }
    }
    order.insert(order.end(), failed.begin(), failed.end());
    return order;
}

} // namespace

cpCHostCache& cpCHostCache::GetInstance()
{
    static cpCHostCache cache;
    return cache;
}

std::string cpCHostCache::Key(const char* host, std::uint16_t port)
{
    char portText[16];
    std::snprintf(portText, sizeof(portText), ":%d", port);
    return std::string(host ? host : "") + portText;
}

cpCHostCache::HostEntry* cpCHostCache::Find(const char* host, std::uint16_t port)
{
    auto it = m_entries.find(Key(host, port));
    return it == m_entries.end() ? nullptr : &it->second;
}

void cpCHostCache::SetResolver(ResolveFn resolve)
{
    m_resolve = resolve;
}

void cpCHostCache::Clear()
{
    m_entries.clear();
}

void cpCHostCache::Resolve(HostEntry& entry)
{
    const std::uint32_t now = cpNow().seconds;
    std::vector<AddressItem> first;
    std::vector<AddressItem> last;
    for (const AddressItem& item : entry.items) {
        if (item.working) {
            first.push_back(item);
        } else if (item.lastFailure != 0 && now - item.lastFailure <= kFailureMemorySeconds) {
            last.push_back(item);
        }
    }
    std::vector<cpAddress> resolved;
    (m_resolve ? m_resolve : &PlatformResolve)(entry.host.c_str(), &resolved);
    std::vector<AddressItem> middle;
    auto known = [](const std::vector<AddressItem>& group, const cpAddress& address) {
        return std::any_of(group.begin(), group.end(), [&](const AddressItem& i) { return i.address == address; });
    };
    for (const cpAddress& address : resolved) {
        if (middle.size() < static_cast<std::size_t>(kMaxAddresses) && !known(first, address) &&
            !known(last, address) && !known(middle, address)) {
            middle.push_back({address, false, 0});
        }
    }
    entry.items = std::move(first);
    entry.items.insert(entry.items.end(), middle.begin(), middle.end());
    entry.items.insert(entry.items.end(), last.begin(), last.end());
    entry.resolvedAt = now;
}

cpCHostCache::HostEntry* cpCHostCache::Refresh(const char* host, std::uint16_t port)
{
    if (!host || !*host) {
        return nullptr;
    }
    HostEntry* entry = Find(host, port);
    if (!entry) {
        HostEntry fresh;
        fresh.host = host;
        fresh.port = port;
        entry = &m_entries.emplace(Key(host, port), std::move(fresh)).first->second;
        Resolve(*entry);
        return entry;
    }
    const bool working =
        std::any_of(entry->items.begin(), entry->items.end(), [](const AddressItem& item) { return item.working; });
    if (!working && cpNow().seconds - entry->resolvedAt > kReResolveSeconds) {
        Resolve(*entry);
    }
    return entry;
}

bool cpCHostCache::GetAddresses(const char* host, std::uint16_t port, std::vector<cpAddress>* addresses)
{
    const HostEntry* entry = Refresh(host, port);
    if (!entry || entry->items.empty() || !addresses) {
        return false;
    }
    *addresses = TryOrder(entry->items);
    return true;
}

bool cpCHostCache::GetAddress(const char* host, std::uint16_t port, cpAddress* address)
{
    std::vector<cpAddress> order;
    if (!GetAddresses(host, port, &order) || !address) {
        return false;
    }
    *address = order.front();
    return true;
}

bool cpCHostCache::TakeItem(const char* host, std::uint16_t port, const cpAddress& address, HostEntry** entry,
                            AddressItem* item)
{
    *entry = Find(host, port);
    if (!*entry) {
        return false;
    }
    auto& items = (*entry)->items;
    auto it = std::find_if(items.begin(), items.end(), [&](const AddressItem& i) { return i.address == address; });
    if (it == items.end()) {
        return false;
    }
    *item = *it;
    items.erase(it);
    return true;
}

void cpCHostCache::MarkFailed(const char* host, std::uint16_t port, const cpAddress& address)
{
    HostEntry* entry = nullptr;
    AddressItem item;
    if (TakeItem(host, port, address, &entry, &item)) {
        item.working = false;
        item.lastFailure = cpNow().seconds;
        entry->items.push_back(item);
    }
}

void cpCHostCache::MarkWorking(const char* host, std::uint16_t port, const cpAddress& address)
{
    HostEntry* entry = nullptr;
    AddressItem item;
    if (TakeItem(host, port, address, &entry, &item)) {
        item.working = true;
        item.lastFailure = 0;
        entry->items.insert(entry->items.begin(), item);
    }
}

std::vector<cpCHostCache::AddressItem> cpCHostCache::GetItems(const char* host, std::uint16_t port) const
{
    auto it = m_entries.find(Key(host, port));
    return it == m_entries.end() ? std::vector<AddressItem>{} : it->second.items;
}
