#include "afx/FolderBrowser.h"

#include <QEventLoop>
#include <QFileDialog>
#include <QVBoxLayout>

#include <cstdlib>
#include <cwchar>

#include <win32_ext.h>

#include "AfxInternal.h"
#include "WindowWidget.h"
#include "afx/CStatic.h"

namespace {

AfxFolderBrowserResponder& Responder()
{
    static AfxFolderBrowserResponder responder;
    return responder;
}

LPITEMIDLIST MakeItem(const CString& path)
{
    auto* item = static_cast<LPITEMIDLIST>(std::calloc(1, sizeof(ITEMIDLIST)));
    if (!item)
        return nullptr;
    // Never a cut path: one that does not fit is left empty.
    item->length = path.size();
    if (path.size() < MAX_PATH)
        std::wcsncpy(item->path, path.c_str(), MAX_PATH - 1);
    return item;
}

// The browser's window: a framework window (so that the callback can send
// it messages and find its title line by id) holding the title, the title
// line and, when a person answers, Qt's folder chooser.
class FolderBrowserWindow : public CWnd,
                            public CFolderBrowserSession {
public:
    explicit FolderBrowserWindow(const BROWSEINFOW& info) : m_info(info) {}

    bool Create()
    {
        CWnd* owner = CWnd::FromHandle(m_info.hwndOwner);
        if (!CreateEx(0, L"FolderBrowser", L"", WS_POPUP, 0, 0, 420, 480, nullptr, 0))
            return false;
        QWidget* widget = GetQWidget();
        widget->setParent(owner && owner->GetQWidget() ? owner->GetQWidget()->window() : nullptr, Qt::Dialog);
        widget->setWindowModality(Qt::ApplicationModal);
        widget->setWindowTitle(QStringLiteral("瀏覽資料夾"));
        const CRect titleRect(8, 8, 412, 40);
        m_title.Create(m_info.lpszTitle ? m_info.lpszTitle : L"", WS_CHILD | WS_VISIBLE, titleRect, this, 0xFFFF);
        const CRect lineRect(8, 40, 412, 80);
        m_titleLine.Create(L"", WS_CHILD | WS_VISIBLE, lineRect, this, IDC_BROWSER_TITLE_LINE);
        return true;
    }

    void Notify(UINT message, LPARAM lParam)
    {
        if (m_info.lpfn)
            m_info.lpfn(m_hWnd, message, lParam, m_info.lParam);
    }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == BFFM_SETSELECTIONW && lParam) {
            // wParam TRUE: lParam is a path; FALSE: an item.
            const CString path =
                wParam ? reinterpret_cast<LPCWSTR>(lParam) : reinterpret_cast<LPCITEMIDLIST>(lParam)->path;
            m_selection = path;
            if (m_chooser)
                m_chooser->setDirectory(QString::fromStdString(W32PathToPosix(std::wstring_view(path))));
            return TRUE;
        }
        if (message == BFFM_SETSTATUSTEXTW) {
            m_titleLine.SetWindowText(reinterpret_cast<LPCWSTR>(lParam));
            return TRUE;
        }
        return CWnd::WindowProc(message, wParam, lParam);
    }

    // CFolderBrowserSession
    CString Title() const override { return m_info.lpszTitle ? m_info.lpszTitle : L""; }
    CString TitleLine() const override
    {
        CString text;
        if (CWnd* line = GetDlgItem(IDC_BROWSER_TITLE_LINE))
            line->GetWindowText(text);
        return text;
    }
    CString Selection() const override { return m_selection; }
    void Select(const CString& windowsPath) override
    {
        m_selection = windowsPath;
        LPITEMIDLIST item = MakeItem(windowsPath);
        Notify(BFFM_SELCHANGED, reinterpret_cast<LPARAM>(item));
        CoTaskMemFree(item);
    }
    CWnd* Window() const override { return const_cast<FolderBrowserWindow*>(this); }

    // A person chooses with Qt's folder chooser inside the window.
    std::optional<CString> RunChooser()
    {
        QWidget* widget = GetQWidget();
        auto* layout = new QVBoxLayout(widget);
        layout->setContentsMargins(8, 80, 8, 8);
        m_chooser = new QFileDialog(widget);
        m_chooser->setWindowFlags(Qt::Widget);
        m_chooser->setOption(QFileDialog::DontUseNativeDialog);
        m_chooser->setOption(QFileDialog::ShowDirsOnly);
        m_chooser->setFileMode(QFileDialog::Directory);
        if (!m_selection.IsEmpty())
            m_chooser->setDirectory(QString::fromStdString(W32PathToPosix(std::wstring_view(m_selection))));
        layout->addWidget(m_chooser);
        QObject::connect(m_chooser, &QFileDialog::currentChanged, m_chooser,
                         [this](const QString& posix) { Select(W32PathFromPosixW(posix.toStdString())); });
        QObject::connect(m_chooser, &QFileDialog::directoryEntered, m_chooser,
                         [this](const QString& posix) { Select(W32PathFromPosixW(posix.toStdString())); });
        std::optional<CString> chosen;
        QEventLoop loop;
        QObject::connect(m_chooser, &QFileDialog::accepted, &loop, [&] {
            const QStringList files = m_chooser->selectedFiles();
            if (!files.isEmpty())
                chosen = CString(W32PathFromPosixW(files.front().toStdString()));
            loop.exit();
        });
        QObject::connect(m_chooser, &QFileDialog::rejected, &loop, [&] { loop.exit(); });
        widget->show();
        loop.exec(QEventLoop::DialogExec);
        widget->hide();
        return chosen;
    }

private:
    BROWSEINFOW m_info;
    CStatic m_title;
    CStatic m_titleLine;
    CString m_selection;
    QFileDialog* m_chooser = nullptr;
};

} // namespace

void AfxSetFolderBrowserResponder(AfxFolderBrowserResponder responder)
{
    Responder() = std::move(responder);
}

LPITEMIDLIST SHBrowseForFolderW(LPBROWSEINFOW info)
{
    if (!info)
        return nullptr;
    AfxEnsureApplication();
    FolderBrowserWindow window(*info);
    if (!window.Create())
        return nullptr;
    const AfxActivePopupScope popup(CWnd::FromHandle(info->hwndOwner), window.GetSafeHwnd());
    window.Notify(BFFM_INITIALIZED, 0);
    std::optional<CString> chosen = Responder() ? Responder()(window) : window.RunChooser();
    if (!chosen)
        return nullptr;
    if (info->pszDisplayName) {
        const size_t slash = chosen->find_last_of(L'\\', chosen->size() > 1 ? chosen->size() - 2 : 0);
        const CString name = slash == std::wstring::npos ? *chosen : CString(chosen->substr(slash + 1));
        std::wcsncpy(info->pszDisplayName, name.c_str(), MAX_PATH - 1);
        info->pszDisplayName[MAX_PATH - 1] = L'\0';
    }
    return MakeItem(*chosen);
}

BOOL SHGetPathFromIDListW(LPCITEMIDLIST item, LPWSTR path)
{
    if (!item || !path)
        return FALSE;
    if (item->length >= MAX_PATH) {
        path[0] = L'\0';
        return FALSE;
    }
    std::wcsncpy(path, item->path, MAX_PATH - 1);
    path[MAX_PATH - 1] = L'\0';
    return path[0] != L'\0';
}

void CoTaskMemFree(void* memory)
{
    std::free(memory);
}
