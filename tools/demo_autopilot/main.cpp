// demo_autopilot: runs the downloader's real window (the same application
// object and dialog as qlsdownloader) and plays the player: once the sizes
// are known it presses start, when the download is done it presses install.
// Once a second it prints the window's labels, and every line the library
// adds to its service log (the engine update, the engine's start, the way
// the job goes); it saves a screenshot of the window while the engine update
// fetches its archive, when it is ready, while it downloads, when it has
// finished and when it installs. Message boxes are printed and answered with
// OK (Yes).
//
//   demo_autopilot [--screenshots DIR] [file-list address]
//
// The program ends as the downloader does: when the installer has been
// started, or when the window quits after a failure.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <win32_ext.h>
#include <windows.h>

#include "DisplayFormat.h"
#include "QLSDownloaderApp.h"
#include "main_dialog/QLSDownloaderDlg.h"

CQLSDownloaderApp theApp;

namespace {

std::string Utf8(const CString& text)
{
    return QString::fromStdWString(text).toStdString();
}

CString Label(CWnd& dialog, int id)
{
    CString text;
    if (CWnd* label = dialog.GetDlgItem(id))
        label->GetWindowText(text);
    return text;
}

bool Visible(CWnd& dialog, int id)
{
    CWnd* control = dialog.GetDlgItem(id);
    return control && control->IsWindowVisible();
}

// Follows the library's service log and prints its new lines. The library
// empties the log when it starts, so a shorter file starts over.
class LogFollower {
public:
    LogFollower()
    {
        char appData[MAX_PATH] = {};
        SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData);
        m_path = W32PathToPosix(std::string(appData) + "\\Orvane\\qlsDownloadV32\\config\\service.log");
    }

    // Prints the lines added since the last call; true when one contains `mark`.
    bool PrintNew(const std::string& mark)
    {
        std::ifstream in(m_path, std::ios::binary);
        in.seekg(0, std::ios::end);
        const auto size = static_cast<std::streamoff>(in.tellg());
        if (size < m_offset)
            m_offset = 0;
        in.seekg(m_offset);
        bool marked = false;
        std::string line;
        while (std::getline(in, line) && !in.eof()) {
            m_offset = static_cast<std::streamoff>(in.tellg());
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::printf("demo: library: %s\n", line.c_str());
            marked = marked || line.find(mark) != std::string::npos;
        }
        std::fflush(stdout);
        return marked;
    }

private:
    std::string m_path;
    std::streamoff m_offset = 0;
};

class Autopilot {
public:
    explicit Autopilot(QString screenshots) : m_screenshots(std::move(screenshots))
    {
        if (!m_screenshots.isEmpty())
            QDir().mkpath(m_screenshots);
        AfxSetMessageBoxResponder([](const AfxMessageBoxCall& call) {
            std::printf("demo: message box \"%s\" (%s)\n", Utf8(call.text).c_str(), Utf8(call.caption).c_str());
            std::fflush(stdout);
            return call.buttons == MB_YESNO ? IDYES : IDOK;
        });
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Tick(); });
        m_timer.start(250);
    }

private:
    enum class Step { Waiting, Downloading, Finished, Done };

    void Tick()
    {
        auto* dialog = dynamic_cast<CQLSDownloaderDlg*>(AfxGetMainWnd());
        if (dialog == nullptr || dialog->GetSafeHwnd() == nullptr)
            return;
        ++m_ticks;
        // The update list named the files to fetch: the archive is on its way.
        if (m_log.PrintNew("[MeshdropLib] Update File (Count: 2)"))
            Save(*dialog, "0-engine-update");
        if (m_ticks % 4 == 0)
            Print(*dialog);
        switch (m_step) {
        case Step::Waiting:
            // Ready, and a second more for the banner to arrive.
            if (!dialog->FileList().empty() && !Label(*dialog, IDC_FILE_SIZE).empty() &&
                Label(*dialog, IDC_SPEED) == L"0.0 Bytes" && ++m_readyTicks > 4) {
                Print(*dialog);
                Save(*dialog, "1-ready");
                std::printf("demo: pressing start\n");
                dialog->GetDlgItem(IDC_START)->SendMessage(BM_CLICK);
                m_step = Step::Downloading;
                m_progressTicks = 0;
            }
            break;
        case Step::Downloading:
            if (Label(*dialog, IDC_RECEIVED) != L"0 Bytes" && ++m_progressTicks == 8)
                Save(*dialog, "2-downloading");
            if (dialog->IsFinished() && Visible(*dialog, IDC_INSTALL)) {
                Print(*dialog);
                Save(*dialog, "3-finished");
                m_step = Step::Finished;
            }
            break;
        case Step::Finished:
            std::printf("demo: pressing install\n");
            dialog->GetDlgItem(IDC_INSTALL)->SendMessage(BM_CLICK);
            Print(*dialog);
            Save(*dialog, "4-installing");
            m_step = Step::Done;
            break;
        case Step::Done:
            break;
        }
    }

    void Print(CQLSDownloaderDlg& dialog)
    {
        auto* bar = static_cast<CProgressST*>(dialog.GetDlgItem(IDC_TOTAL_PROGRESS));
        std::printf("[%3ds] 目前檔案 %s | 已下載 %s / %s | 經過 %s 剩餘 %s | 速度 %s | 全部 %d%% | %s\n", m_ticks / 4,
                    Utf8(Label(dialog, IDC_CURRENT_FILE)).c_str(), Utf8(Label(dialog, IDC_RECEIVED)).c_str(),
                    Utf8(Label(dialog, IDC_FILE_SIZE)).c_str(), Utf8(Label(dialog, IDC_ELAPSED_TIME)).c_str(),
                    Utf8(Label(dialog, IDC_REMAIN_TIME)).c_str(), Utf8(Label(dialog, IDC_SPEED)).c_str(),
                    bar ? bar->GetPosition() : 0, Utf8(Label(dialog, IDC_FOLDER)).c_str());
        std::fflush(stdout);
    }

    void Save(CQLSDownloaderDlg& dialog, const char* name)
    {
        if (m_screenshots.isEmpty())
            return;
        const QString path = m_screenshots + QStringLiteral("/") + QString::fromLatin1(name) + QStringLiteral(".png");
        dialog.GetQWidget()->grab().toImage().save(path);
        std::printf("demo: screenshot %s\n", path.toStdString().c_str());
    }

    QString m_screenshots;
    LogFollower m_log;
    QTimer m_timer;
    Step m_step = Step::Waiting;
    int m_ticks = 0;
    int m_progressTicks = 0;
    int m_readyTicks = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QString screenshots;
    std::vector<char*> args = {argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--screenshots" && i + 1 < argc)
            screenshots = QString::fromLocal8Bit(argv[++i]);
        else
            args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    QApplication application(count, args.data());
    Autopilot autopilot(screenshots);
    return AfxWinMain(count, args.data());
}
