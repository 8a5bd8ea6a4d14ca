// Framework windows are windows of the Win32 layer: messages posted to them
// from other threads reach their handlers, also while a message box runs
// its nested loop, and WM_QUIT ends the modal run.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTimer>

#include <atomic>
#include <thread>
#include <vector>

#include "AfxTestSupport.h"

namespace {

constexpr UINT kLibraryEvent = 0x2B10;
constexpr UINT kPushData = 0x2B11;
constexpr int kEvents = 50;

const AfxDialogTemplate kTemplate = {501, WS_POPUP | WS_CAPTION, 100, 60, L"events", L"MS Shell Dlg", 8, {}};

class EventDialog : public CDialog {
public:
    EventDialog() : CDialog(kTemplate) {}

    std::vector<WPARAM> m_events;
    int m_pushes = 0;
    int m_timerTicks = 0;
    std::function<void(EventDialog&)> m_onShown;
    std::function<void(EventDialog&)> m_onEvent;

protected:
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        if (m_onShown)
            QTimer::singleShot(0, GetQWidget(), [this] { m_onShown(*this); });
        return TRUE;
    }

    LRESULT OnLibraryEvent(WPARAM code, LPARAM)
    {
        m_events.push_back(code);
        if (m_onEvent)
            m_onEvent(*this);
        return 0;
    }
    LRESULT OnPushData(WPARAM, LPARAM)
    {
        ++m_pushes;
        return 0;
    }
    void OnTimer(UINT_PTR id)
    {
        ++m_timerTicks;
        if (m_timerTicks == 3) {
            KillTimer(id);
            EndDialog(IDOK);
        }
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(EventDialog, CDialog)
    ON_MESSAGE(kLibraryEvent, &EventDialog::OnLibraryEvent)
    ON_MESSAGE(kPushData, &EventDialog::OnPushData)
    ON_WM_TIMER()
END_MESSAGE_MAP()

class AfxMessageQueue : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureTestApplication();
        AfxSetMessageBoxResponder(nullptr);
    }
};

} // namespace

TEST_F(AfxMessageQueue, EventsPostedFromAnotherThreadAreHandledWhileAMessageBoxIsOpen)
{
    EventDialog dialog;
    size_t handledWhenBoxReturned = 0;
    std::thread poster;
    dialog.m_onShown = [&](EventDialog& d) {
        HWND hwnd = d.GetSafeHwnd();
        poster = std::thread([hwnd] {
            for (int i = 1; i <= kEvents; ++i)
                PostMessageW(hwnd, kLibraryEvent, static_cast<WPARAM>(i), 0);
        });
        // Give up (and fail) rather than hang when the events never arrive.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->reject();
        });
        guard.start(20000);
        d.MessageBox(L"下載中", L"veilrune", MB_OK);
        handledWhenBoxReturned = d.m_events.size();
        d.EndDialog(IDOK);
    };
    // The last event closes the box, so the box returns only after every
    // event reached the dialog through the box's nested loop.
    dialog.m_onEvent = [](EventDialog& d) {
        if (d.m_events.size() == kEvents) {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->accept();
        }
    };
    EXPECT_EQ(dialog.DoModal(), IDOK);
    poster.join();
    EXPECT_EQ(handledWhenBoxReturned, static_cast<size_t>(kEvents));
    ASSERT_EQ(dialog.m_events.size(), static_cast<size_t>(kEvents));
    for (int i = 0; i < kEvents; ++i)
        EXPECT_EQ(dialog.m_events[static_cast<size_t>(i)], static_cast<WPARAM>(i + 1)) << "in posting order";
}

TEST_F(AfxMessageQueue, ADialogsOwnPostedMessagesAndTimersReachIt)
{
    EventDialog dialog;
    dialog.m_onShown = [](EventDialog& d) {
        d.PostMessage(kPushData);
        d.PostMessage(kPushData);
        d.SetTimer(7, 10);
    };
    EXPECT_EQ(dialog.DoModal(), IDOK) << "the third timer tick ends the dialog";
    EXPECT_EQ(dialog.m_pushes, 2);
    EXPECT_EQ(dialog.m_timerTicks, 3);
}

TEST_F(AfxMessageQueue, QuitMessageEndsTheModalRunAfterTheHandlerFinishes)
{
    EventDialog dialog;
    bool handlerWentOn = false;
    dialog.m_onShown = [&](EventDialog& d) {
        PostQuitMessage(0);
        d.PostMessage(kPushData);
        handlerWentOn = true;
    };
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_TRUE(handlerWentOn);

    // The next run is not affected by the quit that ended the last one.
    EventDialog next;
    next.m_onShown = [](EventDialog& d) { d.EndDialog(IDOK); };
    EXPECT_EQ(next.DoModal(), IDOK);
}

TEST_F(AfxMessageQueue, RestoreRequestFromAnotherProcessRaisesTheWindow)
{
    EventDialog dialog;
    bool restored = false;
    dialog.m_onShown = [&](EventDialog& d) {
        d.GetQWidget()->showMinimized();
        ASSERT_TRUE(WaitFor([&] { return IsIconic(d.GetSafeHwnd()) != FALSE; }));
        // What FindWindow + ShowWindow(SW_RESTORE) of a second copy posts.
        PostMessageW(d.GetSafeHwnd(), WM_SYSCOMMAND, SC_RESTORE, 0);
        restored = WaitFor([&] { return !d.GetQWidget()->isMinimized(); });
        EXPECT_FALSE(IsIconic(d.GetSafeHwnd()));
        d.EndDialog(IDOK);
    };
    dialog.DoModal();
    EXPECT_TRUE(restored);
}
