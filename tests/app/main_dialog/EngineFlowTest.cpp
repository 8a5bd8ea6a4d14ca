// The download through the local engine, in the real window: the engine
// update from the publisher's update server, which the status line tells
// while the started download waits for it, the engine it starts
// downloading the package, and the resume question when a killed engine's
// successor finds the partial files; each moment on screen.
#include "MainDialogTestSupport.h"

#include <QTest>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

#include "EngineUpdate.h"
#include "InstalledEngine.h"
#include "LibraryLog.h"

using namespace maindialogtest;

namespace {

// Paced, so that the update and the download each take a few seconds.
constexpr uint64_t kPackageRate = 128 * 1024;
constexpr uint64_t kUpdateRate = 1024 * 1024;

std::string FreeEnginePort()
{
    publisher::HttpFileServer probe({TestMachine::Root()});
    return std::to_string(probe.listenOn(0));
}

// Whether the engine saved the state of a partial file in the folder.
bool HasEngineState(const std::string& folder)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".mdstate")
            return true;
    }
    return false;
}

class EngineFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_publisher = &TestPublisher::Start({3 << 20, 2 << 20, 1 << 20}, kPackageRate);
        UseFileListUrl(m_publisher->FileListUrl());
        std::filesystem::remove_all(installedengine::Folder());
        const uint16_t port = m_updateServer.listenOn(0);
        publisher::UpdateOptions update;
        update.root = m_updateRoot;
        update.port = port;
        std::string error;
        ASSERT_TRUE(publisher::generateEngineUpdate(update, error)) << error;
        setenv("MESHDROP_UPDATE_LIST_URL",
               ("http://127.0.0.1:" + std::to_string(port) + publisher::kUpdateListPath).c_str(), 1);
        setenv("MESHDROP_ENGINE_PORT", FreeEnginePort().c_str(), 1);
        setenv("MESHDROP_ENGINE_IDLE_EXIT", "30", 1);
        W32SetInternetConnectedForTesting(1);
        m_log = LibraryLog::Prepare();
    }

    void TearDown() override
    {
        EXPECT_TRUE(installedengine::Stop());
        W32SetInternetConnectedForTesting(-1);
    }

    bool LogHas(const std::string& text) const { return ReadWholeFile(m_log).find(text) != std::string::npos; }

    TestPublisher* m_publisher = nullptr;
    std::string m_updateRoot = TestMachine::Root() + "/update";
    publisher::HttpFileServer m_updateServer{{m_updateRoot, kUpdateRate}};
    std::string m_log;
};

// Answers the resume question once it is on screen: confirm, for all files.
class ResumeAnswerer {
public:
    ResumeAnswerer()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const HWND question = FindWindowW(nullptr, L"이어받기 ");
            CWnd* dialog = question != nullptr ? CWnd::FromHandle(question) : nullptr;
            if (dialog == nullptr || !dialog->IsWindowVisible() || m_answered)
                return;
            m_answered = true;
            SaveScreenshot(Grab(*dialog), "main_window_engine_resume_question");
            QTest::mouseClick(dialog->GetDlgItem(IDC_RESUME_OK)->GetQWidget(), Qt::LeftButton);
        });
        m_timer.start(50);
    }
    bool Answered() const { return m_answered; }

private:
    QTimer m_timer;
    bool m_answered = false;
};

// Every text the status line (the speed label) shows, in order.
class StatusHistory {
public:
    explicit StatusHistory(CWnd& dialog)
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this, &dialog] {
            const CString text = LabelText(dialog, IDC_SPEED);
            if (m_texts.empty() || m_texts.back() != text)
                m_texts.push_back(text);
        });
        m_timer.start(20);
    }
    bool Saw(const CString& text) const { return std::find(m_texts.begin(), m_texts.end(), text) != m_texts.end(); }

private:
    QTimer m_timer;
    std::vector<CString> m_texts;
};

} // namespace

TEST_F(EngineFlow, TheEngineIsUpdatedThenDownloadsAndAResumeQuestionIsAnswered)
{
    BoxRecorder boxes;
    CQLSDownloaderDlg dialog;
    std::unique_ptr<ResumeAnswerer> answerer;
    const INT_PTR result = RunDialog(dialog, [&](CQLSDownloaderDlg& d) {
        // The update list arrived and the archive is on its way.
        ASSERT_TRUE(WaitFor([&] { return LogHas("[MeshdropLib] Update File (Count: 2)"); }, 30000));
        SaveScreenshot(Grab(d), "main_window_engine_update");
        ASSERT_TRUE(WaitUntilReady(d, 30000));
        // Started while the update runs (the engine is not ready before its
        // success is written), the job waits for it, and the status line
        // says so.
        const bool updating = !LogHas("[MeshdropLib] Patch Success");
        StatusHistory status(d);
        Click(d, IDC_START);
        if (updating) {
            EXPECT_EQ(LabelText(d, IDC_SPEED), L"正在更新下載引擎…");
            SaveScreenshot(Grab(d), "main_window_engine_update_wait");
        }
        // The engine's speed figures are averaged from its second report on.
        ASSERT_TRUE(WaitFor([&] { return LabelText(d, IDC_SPEED).find(L"KB/Sec") != std::wstring::npos; }, 30000));
        SaveScreenshot(Grab(d), "main_window_engine_download");
        EXPECT_FALSE(LogHas("CPlatFormDownloader Begin")) << "the engine downloads";

        // Once the engine kept part of a file, it dies; the next one asks.
        ASSERT_TRUE(WaitFor([] { return HasEngineState(TestMachine::DriveC() + "/quorvik/veilrune"); }, 30000));
        answerer = std::make_unique<ResumeAnswerer>();
        ASSERT_TRUE(installedengine::Stop(SIGKILL));
        ASSERT_TRUE(WaitFor([&] { return answerer->Answered(); }, 30000));
        // The killed engine's successor kept the job waiting.
        EXPECT_TRUE(status.Saw(L"正在啟動下載引擎…"));
        EXPECT_TRUE(status.Saw(L"正在更新下載引擎…") || !updating);
        ASSERT_TRUE(WaitFor([&] { return d.IsFinished() && Visible(d, IDC_INSTALL); }, 60000));
        SaveScreenshot(Grab(d), "main_window_engine_finished");
        Click(d, IDC_INSTALL);
    });
    EXPECT_EQ(result, -1) << "the installer's start quits the program";
    EXPECT_TRUE(boxes.Calls().empty()) << boxes.Calls().front().text.c_str();
    EXPECT_FALSE(LogHas("CPlatFormDownloader Begin"));
    const std::string engineLog = ReadWholeFile(installedengine::Folder() + "/QLSDownloadV32.log");
    EXPECT_NE(engineLog.find("resuming"), std::string::npos) << engineLog;
    const auto& files = m_publisher->Package().files;
    for (const auto& file : files) {
        const std::string name = std::filesystem::path(file.localPath).filename().string();
        EXPECT_TRUE(ReadWholeFile(TestMachine::DriveC() + "/quorvik/veilrune/" + name) == ReadWholeFile(file.localPath))
            << name;
    }
}
