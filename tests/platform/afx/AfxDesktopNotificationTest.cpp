// Desktop notifications go to the notification service of the session's
// D-Bus, and to nothing when there is no bus or no service on it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "AfxTestSupport.h"
#include "FakeNotificationService.h"
#include "SessionBus.h"

TEST(AfxDesktopNotification, ReachesTheSessionsNotificationServiceAndNothingElse)
{
    EnsureTestApplication();
    testsupport::TempDir runtime("meshdrop-runtime");
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    EXPECT_FALSE(AfxShowDesktopNotification(L"標題", L"內文")) << "no session bus";

    testsupport::SessionBus bus;
    ASSERT_FALSE(bus.address().empty()) << bus.error();
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
    EXPECT_FALSE(AfxShowDesktopNotification(L"標題", L"內文")) << "no notification service";

    FakeNotificationService service(bus.address());
    ASSERT_TRUE(service.Registered());
    EXPECT_TRUE(AfxShowDesktopNotification(L"下載完成", L"veilrune 已下載完成。"));
    ASSERT_TRUE(WaitFor([&] { return !service.calls.empty(); }));
    const QList<QVariant>& args = service.calls.front();
    ASSERT_EQ(args.size(), 8);
    EXPECT_EQ(args[0].toString(), QString::fromStdWString(AfxGetAppName()));
    EXPECT_EQ(args[3].toString(), QStringLiteral("下載完成"));
    EXPECT_EQ(args[4].toString(), QStringLiteral("veilrune 已下載完成。"));
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
}
