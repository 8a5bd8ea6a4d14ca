#include "ov/ovClassFactory.h"

#include <map>
#include <mutex>

namespace {

struct FactoryTable {
    FactoryTable()
    {
        for (const ovClassEntry& entry : ovLibraryClasses()) {
            creators.emplace(entry.classId, entry.create);
        }
    }

    std::mutex mutex;
    std::map<std::uint32_t, ovCreateInstanceFn> creators;
};

FactoryTable& Table()
{
    static FactoryTable table;
    return table;
}

} // namespace

bool ovClassFactory::Register(std::uint32_t classId, ovCreateInstanceFn create)
{
    if (!create) {
        return false;
    }
    FactoryTable& table = Table();
    std::lock_guard lock(table.mutex);
    return table.creators.emplace(classId, create).second;
}

void ovClassFactory::Unregister(std::uint32_t classId)
{
    FactoryTable& table = Table();
    std::lock_guard lock(table.mutex);
    table.creators.erase(classId);
}

bool ovClassFactory::IsRegistered(std::uint32_t classId)
{
    FactoryTable& table = Table();
    std::lock_guard lock(table.mutex);
    return table.creators.count(classId) != 0;
}

ovIUnknown* ovClassFactory::Create(std::uint32_t classId)
{
    FactoryTable& table = Table();
    ovCreateInstanceFn create = nullptr;
    {
        std::lock_guard lock(table.mutex);
        auto it = table.creators.find(classId);
        if (it == table.creators.end()) {
            return nullptr;
        }
        create = it->second;
    }
    return create();
}
