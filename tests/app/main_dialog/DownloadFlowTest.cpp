// The whole way of a download through the real window, library and publisher
// server: start, progress, completion (told on the desktop when the player
// is elsewhere), installing and quitting; and what the window tells while a
// download runs.
#include "MainDialogTestSupport.h"

#include <QElapsedTimer>

#include <filesystem>

#include "DisplayFormat.h"
#include "FakeNotificationService.h"
#include "SessionBus.h"

using namespace maindialogtest;

namespace {

// Paced, so that a download takes several of the library's one-second ticks
// (about eight): long enough for a network loss and its return to be told
// while the job still runs. The rate shows in the graph (a few Mbit/s).
constexpr uint64_t kRate = 256 * 1024;

class DownloadFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_publisher = &TestPublisher::Start({896 * 1024, 640 * 1024, 384 * 1024}, kRate);
        UseFileListUrl(m_publisher->FileListUrl());
    }

    static std::string Downloaded(const std::string& name)
    {
        return ReadWholeFile(TestMachine::DriveC() + "/quorvik/veilrune/" + name);
    }

    static bool FinishedLook(CQLSDownloaderDlg& d)
    {
        return Visible(d, IDC_INSTALL) && !Visible(d, IDC_START) && !Visible(d, IDC_CHANGE_FOLDER);
    }

    TestPublisher* m_publisher = nullptr;
};

std::string FindFile(const std::string& root, const std::string& name)
{
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->path().filename() == name)
            return it->path().string();
    }
    return std::string();
}

} // namespace

TEST_F(DownloadFlow, DownloadsEveryFileRunsTheInstallerAndQuits)
{
    // A desktop session with a notification service: the download ends
    // while the player works in another program.
    testsupport::SessionBus bus;
    ASSERT_FALSE(bus.address().empty()) << bus.error();
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
    EnsureTestApplication();
    FakeNotificationService notifications(bus.address());
    ASSERT_TRUE(notifications.Registered());

    BoxRecorder boxes;
    CQLSDownloaderDlg dialog;
    CString installer;
    const INT_PTR result = RunDialog(dialog, [&](CQLSDownloaderDlg& d) {
        ASSERT_TRUE(WaitUntilReady(d));
        Click(d, IDC_START);
        EXPECT_NE(d.JobHandle(), 0u);
        EXPECT_FALSE(Visible(d, IDC_CHANGE_FOLDER));
        EXPECT_TRUE(Visible(d, IDC_START)) << "now the stop button";

        // Progress: bytes, speed, times, bars and the graph move.
        ASSERT_TRUE(
            WaitFor([&] { return LabelText(d, IDC_RECEIVED) != L"0 Bytes" && LabelText(d, IDC_SPEED) != L"0.0 Bytes"; },
                    20000));
        EXPECT_NE(LabelText(d, IDC_SPEED).find(L"KB/Sec"), std::wstring::npos) << LabelText(d, IDC_SPEED).c_str();
        auto* graph = static_cast<CGraphCtrl*>(d.GetDlgItem(IDC_GRAPH));
        auto* bar = static_cast<CProgressST*>(d.GetDlgItem(IDC_TOTAL_PROGRESS));
        SaveScreenshot(Grab(d), "main_window_downloading");
        QApplication::setActiveWindow(nullptr);
        ASSERT_TRUE(WaitFor([&] { return FinishedLook(d); }, 30000));
        ASSERT_TRUE(WaitFor([&] { return !notifications.calls.empty(); }));
        EXPECT_EQ(notifications.calls.front()[4].toString(), QStringLiteral("veilrune 下載完成。"));
        EXPECT_EQ(bar->GetPosition(), 100);
        EXPECT_GT(graph->Samples().back() + graph->Samples()[CGraphCtrl::kSamples - 2], 0)
            << "a sample per progress event";
        EXPECT_EQ(LabelText(d, IDC_REMAIN_TIME), L"00:00:00");
        EXPECT_EQ(LabelText(d, IDC_CURRENT_FILE), L"setup.exe [4/4]") << "the last completion leaves the label";
        EXPECT_EQ(LabelText(d, IDC_RECEIVED), LabelText(d, IDC_FILE_SIZE));
        EXPECT_TRUE(d.IsFinished());
        installer = d.InstallerPath();
        SaveScreenshot(Grab(d), "main_window_finished");

        Click(d, IDC_INSTALL);
        EXPECT_FALSE(Visible(d, IDC_INSTALL));
        EXPECT_EQ(LabelText(d, IDC_SPEED), L"檢查下載的文件後執行安裝。");
        CRect status;
        d.GetDlgItem(IDC_SPEED)->GetWindowRect(&status);
        EXPECT_EQ(status.Height(), 42);
        SaveScreenshot(Grab(d), "main_window_installing");
    });
    EXPECT_EQ(result, -1) << "the installer's start quits the program";
    EXPECT_TRUE(boxes.Calls().empty()) << boxes.Calls().front().text.c_str();
    EXPECT_EQ(installer, L"C:\\quorvik\\veilrune\\setup.exe");
    EXPECT_NE(ReadWholeFile(TestMachine::Root() + "/setup.ran").find("setup ran"), std::string::npos);

    const auto& files = m_publisher->Package().files;
    for (size_t i = 0; i + 1 < files.size(); ++i) {
        const std::string name = std::filesystem::path(files[i].localPath).filename().string();
        const std::string bytes = Downloaded(name);
        std::string expected(files[i].size, '\0');
        publisher::fillPackageBytes(static_cast<unsigned>(i), 0, expected.data(), expected.size());
        EXPECT_TRUE(bytes == expected) << name << " differs";
    }
    EXPECT_EQ(Downloaded("setup.exe"), ReadWholeFile(files.back().localPath));

    EXPECT_EQ(PublishedFolder(), L"C:\\quorvik\\veilrune\\");

    const std::string log = ReadWholeFile(FindFile(TestMachine::DriveC(), "service.log"));
    EXPECT_NE(log.find("[MeshdropLib] Initialize"), std::string::npos) << log;
    EXPECT_NE(log.find("[MeshdropLib] Finalize End"), std::string::npos);
}

TEST_F(DownloadFlow, NetworkLossAndReturnAreToldAndClosingAsksFirst)
{
    BoxRecorder boxes(IDNO);
    CQLSDownloaderDlg dialog;
    const INT_PTR result = RunDialog(dialog, [&](CQLSDownloaderDlg& d) {
        ASSERT_TRUE(WaitUntilReady(d));
        Click(d, IDC_START);
        ASSERT_TRUE(WaitFor([&] { return LabelText(d, IDC_RECEIVED) != L"0 Bytes"; }, 20000));
        W32SetInternetConnectedForTesting(0);
        EXPECT_TRUE(WaitFor([&] { return boxes.Saw(L"您的網路狀態不佳"); }, 10000));
        W32SetInternetConnectedForTesting(1);
        EXPECT_TRUE(WaitFor([&] { return boxes.Saw(L"您的網路回復正常"); }, 10000));
        W32SetInternetConnectedForTesting(-1);
        EXPECT_NE(d.JobHandle(), 0u) << "the download goes on";
        const size_t seen = boxes.Calls().size();

        // The close button asks; No keeps everything as it is.
        Click(d, IDC_CLOSE);
        ASSERT_EQ(boxes.Calls().size(), seen + 1);
        EXPECT_EQ(boxes.Calls().back().text, L"關閉視窗時，即會中止下載 veilrune\n確定要關閉視窗嗎？");
        EXPECT_EQ(boxes.Calls().back().buttons, static_cast<UINT>(MB_YESNO));
        EXPECT_EQ(boxes.Calls().back().icon, static_cast<UINT>(MB_ICONINFORMATION));
        EXPECT_NE(d.JobHandle(), 0u);
        // So does Escape.
        QTest::keyClick(d.GetQWidget(), Qt::Key_Escape);
        ASSERT_EQ(boxes.Calls().size(), seen + 2);
        EXPECT_EQ(boxes.Calls().back().text, L"關閉視窗時，即會中止下載 veilrune\n確定要關閉視窗嗎？");
        // The window's own close request asks in its words; Yes closes.
        boxes.SetYesNoAnswer(IDYES);
        d.SendMessage(WM_CLOSE);
        EXPECT_EQ(boxes.Calls().back().text, L"關閉視窗時，將立即終止下載 veilrune\n確定要關閉視窗嗎？");
    });
    EXPECT_EQ(result, IDCANCEL) << "the close request's own ending";
    for (const auto& call : boxes.Calls())
        EXPECT_FALSE(call.applicationBox) << call.text.c_str();
}

TEST_F(DownloadFlow, FileGoneFromTheServerFailsTheDownloadAndAReplacedInstallerIsNotRun)
{
    BoxRecorder boxes;
    CQLSDownloaderDlg dialog;
    const auto& files = m_publisher->Package().files;
    const INT_PTR result = RunDialog(dialog, [&](CQLSDownloaderDlg& d) {
        ASSERT_TRUE(WaitUntilReady(d));
        // Gone after the size check: the job's own probe fails.
        const std::string moved = files[1].localPath + ".away";
        std::filesystem::rename(files[1].localPath, moved);
        Click(d, IDC_START);
        ASSERT_TRUE(WaitFor([&] { return !boxes.Calls().empty(); }, 30000));
        EXPECT_EQ(boxes.Calls()[0].text, L"下載veilrune失敗\n請稍候再試");
        EXPECT_FALSE(boxes.Calls()[0].applicationBox);
        EXPECT_EQ(boxes.Calls()[0].caption, L"veilrune");
        EXPECT_NE(d.JobHandle(), 0u) << "the window does not stop the job itself";

        // Stop, put the file back and download again: a new job takes every file.
        Click(d, IDC_START);
        EXPECT_EQ(d.JobHandle(), 0u);
        std::filesystem::rename(moved, files[1].localPath);
        Click(d, IDC_START);
        ASSERT_TRUE(WaitFor([&] { return d.IsFinished(); }, 30000));
        // Another program takes the installer's place before it is run: it
        // is not the file the size check announced, and counts as missing.
        const std::string installer = TestMachine::DriveC() + "/quorvik/veilrune/setup.exe";
        std::filesystem::remove(installer);
        std::ofstream(installer) << "#!/bin/sh\necho ran > \"" << TestMachine::Root() << "/replaced.ran\"\n";
        std::filesystem::permissions(installer, std::filesystem::perms::owner_all);
        Click(d, IDC_INSTALL);
    });
    EXPECT_EQ(result, -1);
    ASSERT_EQ(boxes.Calls().size(), 2u);
    EXPECT_EQ(boxes.Calls()[1].text, L"該路徑(C:\\quorvik\\veilrune\\setup.exe)檔案不存在。");
    EXPECT_TRUE(boxes.Calls()[1].applicationBox);
    EXPECT_FALSE(std::filesystem::exists(TestMachine::Root() + "/replaced.ran")) << "nothing ran";
}

TEST_F(DownloadFlow, EventsOfAStoppedOrUnknownJobLeaveTheWindowAsItIs)
{
    BoxRecorder boxes;
    CQLSDownloaderDlg dialog;
    RunDialog(dialog, [&](CQLSDownloaderDlg& d) {
        ASSERT_TRUE(WaitUntilReady(d));
        Click(d, IDC_START);
        const MeshdropJobHandle stopped = d.JobHandle();
        ASSERT_TRUE(WaitFor([&] { return LabelText(d, IDC_RECEIVED) != L"0 Bytes"; }, 20000));
        Click(d, IDC_START);
        ASSERT_EQ(d.JobHandle(), 0u);
        auto* bar = static_cast<CProgressST*>(d.GetDlgItem(IDC_TOTAL_PROGRESS));
        const int position = bar->GetPosition();
        const CString received = LabelText(d, IDC_RECEIVED), elapsed = LabelText(d, IDC_ELAPSED_TIME);
        const CString file = LabelText(d, IDC_CURRENT_FILE);

        // Events of the stopped job, queued before the stop.
        for (WPARAM code : {513, 514, 515, 516, 517, 524})
            d.SendMessage(MESHDROPLIB_WM_EVENT, code, static_cast<LPARAM>(stopped));
        EXPECT_EQ(LabelText(d, IDC_RECEIVED), received);
        EXPECT_EQ(LabelText(d, IDC_ELAPSED_TIME), elapsed);
        EXPECT_EQ(LabelText(d, IDC_CURRENT_FILE), file);
        EXPECT_EQ(bar->GetPosition(), position);
        EXPECT_FALSE(d.IsFinished());
        EXPECT_TRUE(Visible(d, IDC_START));
        EXPECT_TRUE(Visible(d, IDC_CHANGE_FOLDER));

        // A restarted job is not finished by another job's end.
        Click(d, IDC_START);
        ASSERT_NE(d.JobHandle(), 0u);
        d.SendMessage(MESHDROPLIB_WM_EVENT, 516, static_cast<LPARAM>(d.JobHandle() + 8));
        EXPECT_FALSE(d.IsFinished());
        EXPECT_FALSE(Visible(d, IDC_INSTALL));
        EXPECT_NE(d.JobHandle(), 0u);
        boxes.SetYesNoAnswer(IDYES);
        Click(d, IDC_CLOSE);
    });
    ASSERT_EQ(boxes.Calls().size(), 1u) << "only the close question";
}

TEST_F(DownloadFlow, InstallerAtAnOddAddressRunsWhileTheWindowKeepsPainting)
{
    // A comma in one address, and one so long that the library's completion
    // record cannot hold it and the local path together.
    const std::string odd = "/odd/a,b/first.exe";
    std::string longPath = "/odd";
    for (int i = 0; i < 4; ++i)
        longPath += "/" + std::string(245, static_cast<char>('c' + i));
    longPath += "/setup.exe";
    const std::string started = TestMachine::Root() + "/slow-setup.started";
    WriteWholeFile(m_publisher->Root() + odd, std::string(64 * 1024, 'x'));
    // An installer that never closes the readiness descriptor.
    WriteWholeFile(m_publisher->Root() + longPath, "#!/bin/sh\necho started > '" + started + "'\nexec sleep 15\n");
    const std::wstring base = m_publisher->Url("");
    const std::string list = QString::fromStdWString(base).toStdString() + odd + "\r\n" +
                             QString::fromStdWString(base).toStdString() + longPath + "\r\n";
    UseFileListUrl(m_publisher->ServeList("odd.txt", list));

    BoxRecorder boxes;
    CQLSDownloaderDlg dialog;
    CString installer;
    int ticksWhileWaiting = 0;
    QElapsedTimer sinceInstall;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (std::filesystem::exists(started) && dialog.GetSafeHwnd())
            ++ticksWhileWaiting;
    });
    const INT_PTR result = RunDialog(dialog, [&](CQLSDownloaderDlg& d) {
        ASSERT_TRUE(WaitUntilReady(d));
        Click(d, IDC_START);
        ASSERT_TRUE(WaitFor([&] { return d.IsFinished(); }, 30000));
        installer = d.InstallerPath();
        ticker.start(50);
        sinceInstall.start();
        Click(d, IDC_INSTALL);
    });
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(boxes.Calls().empty()) << boxes.Calls().front().text.c_str();
    EXPECT_EQ(installer, L"C:\\quorvik\\veilrune\\setup.exe");
    EXPECT_TRUE(std::filesystem::exists(started));
    EXPECT_GE(ticksWhileWaiting, 3) << "the window's thread went on while the installer was awaited";
    EXPECT_LT(sinceInstall.elapsed(), 30000) << "the wait for a silent installer is bounded";
}
