// What the window tells the player beyond the figures of its labels: the
// engine update and the engine start while they keep a started download
// waiting, the switch to the direct path, both in the speed label (the
// window's status line), and a desktop notice when the download ends while
// the player works in another program.
#include "QLSDownloaderDlg.h"

#include "DisplayFormat.h"

namespace {

LPCWSTR EngineWaitText(EngineWait::Say say)
{
    switch (say) {
    case EngineWait::Say::Updating:
        return L"正在更新下載引擎…";
    case EngineWait::Say::Starting:
        return L"正在啟動下載引擎…";
    case EngineWait::Say::Direct:
        return L"無法使用下載引擎，改為直接下載…";
    }
    return L"";
}

} // namespace

void CQLSDownloaderDlg::NoteEngineEvent(UINT code, MeshdropJobHandle job)
{
    // Job events of another job (one stopped a moment ago) say nothing.
    if (job == 0 || job == m_hJob)
        SayEngineWait(m_engineWait.OnEvent(code));
}

void CQLSDownloaderDlg::SayEngineWait(std::optional<EngineWait::Say> say)
{
    if (!say)
        return;
    m_strSpeed = EngineWaitText(*say);
    PushData();
}

void CQLSDownloaderDlg::EndEngineWait()
{
    // A stopped download no longer waits: the status line shows no speed.
    if (m_engineWait.Saying())
        m_strSpeed = FormatSpeed(0);
    m_engineWait.OnJobEnded();
}

void CQLSDownloaderDlg::NotifyIfInBackground()
{
    if (CWnd::GetForegroundWindow() != nullptr)
        return;
    CString text;
    text.Format(L"%ls 下載完成。", L"veilrune");
    AfxShowDesktopNotification(L"Brightholm DownLoader", text.c_str());
}
