#include <gtest/gtest.h>

#include <vector>

#include "FakeClock.h"
#include "cp/cpCHostCache.h"

namespace {

// Addresses by number: n stands for the IPv4 address n, and 1000 + n for the
// IPv6 address ::n.
std::vector<std::uint32_t> g_lookup;
int g_lookups = 0;

cpAddress AddressOf(std::uint32_t n)
{
    if (n < 1000) {
        return cpAddress(n);
    }
    in6_addr v6{};
    v6.s6_addr[15] = static_cast<std::uint8_t>(n - 1000);
    return cpAddress::FromIPv6(v6);
}

std::uint32_t NumberOf(const cpAddress& address)
{
    return address.IsIPv6() ? 1000 + address.Bytes()[15] : address.IPv4();
}

std::vector<std::uint32_t> Numbers(const std::vector<cpAddress>& addresses)
{
    std::vector<std::uint32_t> numbers;
    for (const cpAddress& address : addresses) {
        numbers.push_back(NumberOf(address));
    }
    return numbers;
}

OVRESULT FakeResolve(const char*, std::vector<cpAddress>* addresses)
{
    ++g_lookups;
    addresses->clear();
    for (std::uint32_t n : g_lookup) {
        addresses->push_back(AddressOf(n));
    }
    return g_lookup.empty() ? OVR_PLATFORM_FAIL : OVR_PLATFORM_OK;
}

class HostCacheTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cache.Clear();
        cache.SetResolver(&FakeResolve);
        g_lookups = 0;
    }
    void TearDown() override
    {
        cache.Clear();
        cache.SetResolver(nullptr);
    }

    std::vector<std::uint32_t> Order()
    {
        std::vector<std::uint32_t> order;
        for (const auto& item : cache.GetItems("h", 80)) {
            order.push_back(NumberOf(item.address));
        }
        return order;
    }

    FakeClock clock{1'000'000};
    cpCHostCache& cache = cpCHostCache::GetInstance();
};

} // namespace

TEST_F(HostCacheTest, WorkingAddressComesFirstAndFailedOnesLast)
{
    g_lookup = {1, 2, 3};
    cpAddress address;
    ASSERT_TRUE(cache.GetAddress("h", 80, &address));
    EXPECT_EQ(NumberOf(address), 1u);

    cache.MarkWorking("h", 80, 2);
    ASSERT_TRUE(cache.GetAddress("h", 80, &address));
    EXPECT_EQ(NumberOf(address), 2u);
    EXPECT_EQ(Order(), (std::vector<std::uint32_t>{2, 1, 3}));

    // The only working address fails: within 4 s of the look-up the first
    // remaining item is answered without asking again.
    cache.MarkFailed("h", 80, 2);
    ASSERT_TRUE(cache.GetAddress("h", 80, &address));
    EXPECT_EQ(NumberOf(address), 1u);
    EXPECT_EQ(g_lookups, 1);
    EXPECT_EQ(Order(), (std::vector<std::uint32_t>{1, 3, 2}));

    // Unknown hosts and addresses change nothing.
    cache.MarkWorking("h", 81, 3);
    cache.MarkFailed("h", 80, 99);
    EXPECT_EQ(Order(), (std::vector<std::uint32_t>{1, 3, 2}));
}

TEST_F(HostCacheTest, ResolutionGroupsWorkingNewAndRecentlyFailed)
{
    g_lookup = {1, 2, 3, 4};
    cpAddress address;
    ASSERT_TRUE(cache.GetAddress("h", 80, &address));
    cache.MarkFailed("h", 80, 1); // failed at t
    clock.Advance(10'000);
    cache.MarkFailed("h", 80, 2);  // failed at t + 10
    cache.MarkWorking("h", 80, 3); // working
    clock.Advance(21'000);         // t + 31: the failure of 1 is forgotten, 2's is not

    g_lookup = {5, 2, 1, 3};
    cache.MarkFailed("h", 80, 3); // no working address left: the next call re-resolves
    ASSERT_TRUE(cache.GetAddress("h", 80, &address));
    EXPECT_EQ(g_lookups, 2);
    // Kept: 3 and 2 failed recently (last group, in list order); new: 5, 1.
    EXPECT_EQ(Order(), (std::vector<std::uint32_t>{5, 1, 2, 3}));
    EXPECT_EQ(NumberOf(address), 5u);
}

TEST_F(HostCacheTest, WorkingItemSurvivesResolutionAtTheFront)
{
    g_lookup = {1, 2};
    cpAddress address;
    ASSERT_TRUE(cache.GetAddress("h", 80, &address));
    cache.MarkWorking("h", 80, 2);
    clock.Advance(5'000);
    cache.MarkFailed("h", 80, 1);
    // A working address is answered without re-resolving, however old the look-up.
    ASSERT_TRUE(cache.GetAddress("h", 80, &address));
    EXPECT_EQ(NumberOf(address), 2u);
    EXPECT_EQ(g_lookups, 1);
}

TEST_F(HostCacheTest, NoAddressMeansFalse)
{
    g_lookup = {};
    cpAddress address(7);
    EXPECT_FALSE(cache.GetAddress("h", 80, &address));
    EXPECT_FALSE(cache.GetAddress("", 80, &address));
    EXPECT_EQ(NumberOf(address), 7u);
    clock.Advance(5'000);
    g_lookup = {9};
    EXPECT_TRUE(cache.GetAddress("h", 80, &address));
    EXPECT_EQ(NumberOf(address), 9u);
}

TEST_F(HostCacheTest, FamiliesTakeTurnsAfterTheWorkingAddressesAndBeforeTheFailedOnes)
{
    // The resolver's order: three IPv6 addresses, then two IPv4 ones.
    g_lookup = {1001, 1002, 1003, 1, 2};
    std::vector<cpAddress> order;
    ASSERT_TRUE(cache.GetAddresses("h", 80, &order));
    EXPECT_EQ(Numbers(order), (std::vector<std::uint32_t>{1001, 1, 1002, 2, 1003}));
    cpAddress first;
    ASSERT_TRUE(cache.GetAddress("h", 80, &first));
    EXPECT_EQ(NumberOf(first), 1001u);

    cache.MarkFailed("h", 80, AddressOf(1001));
    cache.MarkWorking("h", 80, AddressOf(2));
    ASSERT_TRUE(cache.GetAddresses("h", 80, &order));
    EXPECT_EQ(Numbers(order), (std::vector<std::uint32_t>{2, 1002, 1, 1003, 1001}));
    EXPECT_EQ(g_lookups, 1);
}
