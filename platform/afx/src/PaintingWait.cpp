#include "afx/PaintingWait.h"

#include <QEventLoop>
#include <QMetaObject>

#include <thread>

#include "AfxInternal.h"

void AfxWaitKeepingWindowsPainted(const std::function<void()>& blockingWait)
{
    AfxEnsureApplication();
    QEventLoop loop;
    // The helper ends the loop through the loop's own thread; a quit that
    // arrives before exec() is delivered once exec() runs.
    std::thread waiter([&] {
        blockingWait();
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    waiter.join();
}
