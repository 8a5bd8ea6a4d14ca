// Helpers for tests of the real downloader window: a machine of its own for
// the test process (C: drive, registry and runtime folder in a temporary
// folder), the publisher server in the process, the message-box and folder
// responders, and a way to play the player while the dialog runs modally.
#pragma once

#include <gtest/gtest.h>

#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <win32_ext.h>

#include "AfxTestSupport.h"
#include "HttpFileServer.h"
#include "QLSDownloaderApp.h"
#include "SamplePackage.h"
#include "TestDriveC.h"
#include "main_dialog/QLSDownloaderDlg.h"

namespace maindialogtest {

// The process's machine: a temporary C: drive (removed at exit) that also
// holds the registry file, the runtime folder and the installer's marker,
// all set before the first platform call.
class TestMachine {
public:
    static const std::string& Root()
    {
        static const std::string root = Make();
        return root;
    }
    static std::string DriveC() { return TestDriveC::Root(); }
    static std::string Registry() { return Root() + "/registry.reg"; }

private:
    static std::string Make()
    {
        const std::string root = TestDriveC::Root() + "/.test-machine";
        std::filesystem::create_directories(root + "/runtime");
        setenv("MESHDROP_REGISTRY", (root + "/registry.reg").c_str(), 1);
        setenv("MESHDROP_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
        setenv("MESHDROP_SETUP_MARKER", (root + "/setup.ran").c_str(), 1);
        return root;
    }
};

[[maybe_unused]] inline const bool g_testMachineReady = !TestMachine::Root().empty();

inline std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// The publisher server with a sample package, on two ephemeral ports of
// 127.0.0.1. It lives as long as the process: its threads are detached.
class TestPublisher {
public:
    static TestPublisher& Start(std::vector<uint64_t> sizes, uint64_t rate = 0)
    {
        static TestPublisher* publisher = new TestPublisher(std::move(sizes), rate);
        return *publisher;
    }

    uint16_t Port() const { return m_port; }
    std::string Root() const { return m_root; }
    const publisher::Package& Package() const { return m_package; }
    std::wstring Url(const std::string& path) const
    {
        return QString::fromStdString("http://127.0.0.1:" + std::to_string(m_port) + path).toStdWString();
    }
    std::wstring FileListUrl() const { return Url(publisher::kFileListPath); }
    // Bytes of the whole package, installer included.
    uint64_t PackageBytes() const
    {
        uint64_t total = 0;
        for (const auto& file : m_package.files)
            total += file.size;
        return total;
    }
    // Serves `bytes` at /lists/<name> and returns its address.
    std::wstring ServeList(const std::string& name, const std::string& bytes) const
    {
        WriteWholeFile(m_root + "/lists/" + name, bytes);
        return Url("/lists/" + name);
    }

private:
    TestPublisher(std::vector<uint64_t> sizes, uint64_t rate)
        : m_root(TestMachine::Root() + "/publisher"), m_server({m_root, rate, false})
    {
        m_port = m_server.listenOn(0);
        const uint16_t mirror = m_server.listenOn(0);
        publisher::PackageOptions options;
        options.root = m_root;
        options.port = m_port;
        options.mirrorPort = mirror;
        options.sizes = std::move(sizes);
        std::string error;
        if (m_port == 0 || mirror == 0 || !publisher::generatePackage(options, m_package, error))
            ADD_FAILURE() << "publisher server: " << error;
    }

    std::string m_root;
    publisher::HttpFileServer m_server;
    publisher::Package m_package;
    uint16_t m_port = 0;
};

// Records every message box and answers it: Yes/No boxes with `yesNoAnswer`.
class BoxRecorder {
public:
    explicit BoxRecorder(int yesNoAnswer = IDYES) : m_yesNoAnswer(yesNoAnswer)
    {
        AfxSetMessageBoxResponder([this](const AfxMessageBoxCall& call) {
            m_calls.push_back(call);
            if (m_onBox)
                m_onBox(call);
            return call.buttons == MB_YESNO ? m_yesNoAnswer : IDOK;
        });
    }
    ~BoxRecorder() { AfxSetMessageBoxResponder(nullptr); }

    const std::vector<AfxMessageBoxCall>& Calls() const { return m_calls; }
    void SetYesNoAnswer(int answer) { m_yesNoAnswer = answer; }
    void OnBox(std::function<void(const AfxMessageBoxCall&)> onBox) { m_onBox = std::move(onBox); }
    std::vector<CString> Texts() const
    {
        std::vector<CString> texts;
        for (const auto& call : m_calls)
            texts.push_back(call.text);
        return texts;
    }
    bool Saw(const CString& text) const
    {
        for (const auto& call : m_calls) {
            if (call.text == text)
                return true;
        }
        return false;
    }

private:
    int m_yesNoAnswer;
    std::vector<AfxMessageBoxCall> m_calls;
    std::function<void(const AfxMessageBoxCall&)> m_onBox;
};

// The application object of the test process: the dialog reads the file-list
// address from its command line.
inline CQLSDownloaderApp& TestApp()
{
    static CQLSDownloaderApp* app = new CQLSDownloaderApp;
    return *app;
}

inline void UseFileListUrl(const std::wstring& url)
{
    TestApp().m_cmdInfo.m_strFirstParam = url;
}

inline CString LabelText(CWnd& dialog, int id)
{
    CString text;
    dialog.GetDlgItem(id)->GetWindowText(text);
    return text;
}

inline bool Visible(CWnd& dialog, int id)
{
    return dialog.GetDlgItem(id)->IsWindowVisible() != FALSE;
}

inline void Click(CWnd& dialog, int id)
{
    dialog.GetDlgItem(id)->SendMessage(BM_CLICK);
}

// Runs the dialog modally while `player` plays; returns the modal result.
inline INT_PTR RunDialog(CQLSDownloaderDlg& dialog, std::function<void(CQLSDownloaderDlg&)> player)
{
    EnsureTestApplication();
    (void)TestApp();
    QTimer::singleShot(0, [&dialog, player] { player(dialog); });
    return dialog.DoModal();
}

// The dialog has the file list and its sizes: the ready state.
inline bool WaitUntilReady(CQLSDownloaderDlg& dialog, int timeoutMs = 20000)
{
    return WaitFor(
        [&] {
            return !LabelText(dialog, IDC_FILE_SIZE).empty() && !dialog.FileList().empty() &&
                   LabelText(dialog, IDC_SPEED) == L"0.0 Bytes";
        },
        timeoutMs);
}

// The folder published in the registry for the installer, or empty.
inline CString PublishedFolder()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvane Inc.\\DownloadPath", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return CString();
    WCHAR value[MAX_PATH] = {};
    DWORD bytes = sizeof value - sizeof(WCHAR);
    const LSTATUS status = RegQueryValueExW(key, L"veilrune", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &bytes);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? CString(value) : CString();
}

// The Windows path of a file of the test's C: drive.
inline std::string PosixOf(const CString& windowsPath)
{
    return W32PathToPosix(std::wstring_view(windowsPath));
}

} // namespace maindialogtest
