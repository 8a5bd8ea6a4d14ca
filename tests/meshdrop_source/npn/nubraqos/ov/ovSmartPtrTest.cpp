#include <gtest/gtest.h>

#include "ov/ovClassFactory.h"
#include "ov/ovClassIds.h"
#include "ov/ovSmartPtr.h"

namespace {

int g_live = 0;

class Probe : public ovTRefCounted<ovIUnknown> {
public:
    Probe() { ++g_live; }
    ~Probe() override { --g_live; }
};

constexpr std::uint32_t kProbeClass = 0x7F00;

ovIUnknown* CreateProbe()
{
    return new Probe();
}

std::uint32_t CountOf(const ovSmartPtr& p)
{
    return static_cast<Probe*>(p.Get())->GetRefCount();
}

} // namespace

TEST(ovResult, SuccessAndFailureTestsAgree)
{
    for (OVRESULT r :
         {OVR_PLATFORM_FAIL, OVR_NET_FAIL, OVR_NOT_IMPLEMENTED, OVR_BAD_SOCKET, OVR_SOCK_NOTSOCK, OVR_SOCK_REFUSED,
          OVR_SOCK_ALREADY, OVR_SOCK_EXISTS, OVR_SOCK_NOBUFS, OVR_SOCK_INPROGRESS, OVR_SOCK_WOULDBLOCK}) {
        EXPECT_TRUE(OV_FAILED(r));
        EXPECT_FALSE(OV_SUCCEEDED(r));
    }
    for (OVRESULT r : {OVR_REF, OVR_PLATFORM_OK, OVR_NET_OK}) {
        EXPECT_TRUE(OV_SUCCEEDED(r));
        EXPECT_FALSE(OV_FAILED(r));
    }
    EXPECT_TRUE(OV_IS_WOULDBLOCK(OVR_SOCK_WOULDBLOCK));
    EXPECT_FALSE(OV_IS_WOULDBLOCK(OVR_SOCK_INPROGRESS));
}

class ovSmartPtrTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ovClassFactory::Register(kProbeClass, &CreateProbe)); }
    void TearDown() override
    {
        ovClassFactory::Unregister(kProbeClass);
        EXPECT_EQ(g_live, 0);
    }
};

TEST_F(ovSmartPtrTest, CreateInstanceGivesTheFirstReference)
{
    ovSmartPtr p;
    ASSERT_TRUE(p.CreateInstance(kProbeClass));
    EXPECT_EQ(CountOf(p), 1u);
    {
        ovSmartPtr copy(p);
        EXPECT_EQ(CountOf(p), 2u);
    }
    EXPECT_EQ(CountOf(p), 1u);
}

TEST_F(ovSmartPtrTest, UnknownClassReleasesTheHeldObjectAndStaysEmpty)
{
    ovSmartPtr p;
    ASSERT_TRUE(p.CreateInstance(kProbeClass));
    EXPECT_FALSE(p.CreateInstance(4103));
    EXPECT_EQ(p.Get(), nullptr);
    EXPECT_EQ(g_live, 0);
}

TEST_F(ovSmartPtrTest, SelfAssignmentKeepsTheObject)
{
    ovSmartPtr p;
    ASSERT_TRUE(p.CreateInstance(kProbeClass));
    ovSmartPtr& alias = p;
    p = alias;
    p = p.Get();
    EXPECT_EQ(g_live, 1);
    EXPECT_EQ(CountOf(p), 1u);
}

TEST_F(ovSmartPtrTest, AssigningAnotherObjectReleasesTheOldOne)
{
    ovSmartPtr a;
    ovSmartPtr b;
    ASSERT_TRUE(a.CreateInstance(kProbeClass));
    ASSERT_TRUE(b.CreateInstance(kProbeClass));
    EXPECT_EQ(g_live, 2);
    a = b;
    EXPECT_EQ(g_live, 1);
    EXPECT_EQ(CountOf(b), 2u);
    b.Reset();
    a = std::move(a);
    EXPECT_EQ(CountOf(a), 1u);
}

TEST_F(ovSmartPtrTest, QueryInterfaceOnAnObjectWithoutInterfaces)
{
    ovSmartPtr empty;
    void* out = &empty;
    EXPECT_FALSE(empty.QueryInterface(OVIID_NET_STACK, &out));
    ovSmartPtr p;
    ASSERT_TRUE(p.CreateInstance(kProbeClass));
    EXPECT_FALSE(p.QueryInterface(OVIID_NET_STACK, &out));
    EXPECT_EQ(out, &empty);
}

TEST_F(ovSmartPtrTest, FactoryRefusesATakenIdentifier)
{
    EXPECT_FALSE(ovClassFactory::Register(kProbeClass, &CreateProbe));
    EXPECT_FALSE(ovClassFactory::Register(OVCLS_STREAM_DISPATCHER, &CreateProbe));
    EXPECT_FALSE(ovClassFactory::Register(0x7F01, nullptr));
    EXPECT_TRUE(ovClassFactory::IsRegistered(OVCLS_STREAM_DISPATCHER));
    EXPECT_FALSE(ovClassFactory::IsRegistered(4103));
}
