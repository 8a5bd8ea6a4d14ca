#include "cp/cpCHostCache.h"

#include <algorithm>
#include <cstdio>

#include "cp/cpClock.h"
#include "cp/cpSocketRecord.h"

namespace {

OVRESULT PlatformResolve(const char* name, std::vector<std::uint32_t>* addresses)
{
    std::uint32_t found[cpCHostCache::kMaxAddresses];
    int count = 0;
    const OVRESULT result = cpResolveAll(name, found, cpCHostCache::kMaxAddresses, &count);
    addresses->assign(found, found + count);
    return result;
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
    std::vector<std::uint32_t> resolved;
    (m_resolve ? m_resolve : &PlatformResolve)(entry.host.c_str(), &resolved);
    std::vector<AddressItem> middle;
    auto known = [](const std::vector<AddressItem>& group, std::uint32_t address) {
        return std::any_of(group.begin(), group.end(), [&](const AddressItem& i) { return i.address == address; });
    };
    for (std::uint32_t address : resolved) {
        if (!known(first, address) && !known(last, address) && !known(middle, address)) {
            middle.push_back({address, false, 0});
        }
    }
    entry.items = std::move(first);
    entry.items.insert(entry.items.end(), middle.begin(), middle.end());
    entry.items.insert(entry.items.end(), last.begin(), last.end());
    entry.resolvedAt = now;
}

bool cpCHostCache::GetAddress(const char* host, std::uint16_t port, std::uint32_t* address)
{
    if (!host || !*host) {
        return false;
    }
    HostEntry* entry = Find(host, port);
    if (!entry) {
        HostEntry fresh;
        fresh.host = host;
        fresh.port = port;
        entry = &m_entries.emplace(Key(host, port), std::move(fresh)).first->second;
        Resolve(*entry);
    } else {
        for (const AddressItem& item : entry->items) {
            if (item.working) {
                *address = item.address;
                return true;
            }
        }
        if (cpNow().seconds - entry->resolvedAt > kReResolveSeconds) {
            Resolve(*entry);
        }
    }
    if (entry->items.empty()) {
        return false;
    }
    *address = entry->items.front().address;
    return true;
}

bool cpCHostCache::TakeItem(const char* host, std::uint16_t port, std::uint32_t address, HostEntry** entry,
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

void cpCHostCache::MarkFailed(const char* host, std::uint16_t port, std::uint32_t address)
{
    HostEntry* entry = nullptr;
    AddressItem item;
    if (TakeItem(host, port, address, &entry, &item)) {
        item.working = false;
        item.lastFailure = cpNow().seconds;
        entry->items.push_back(item);
    }
}

void cpCHostCache::MarkWorking(const char* host, std::uint16_t port, std::uint32_t address)
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
