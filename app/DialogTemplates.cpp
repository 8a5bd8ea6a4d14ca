#include "DialogTemplates.h"

#include "resource.h"

namespace {

// The resume question: a small modal box without a system menu.
const AfxDialogTemplate kResumeDialog = {
    IDD_RESUME_DIALOG,
    WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT,
    154,
    80,
    L"이어받기 ",
    L"MS Shell Dlg",
    8,
    {
        {L"Static", L"Static", SS_LEFT | WS_VISIBLE, 20, 12, 114, 8, IDC_RESUME_TEXT1},
        {L"Static", L"Static", SS_LEFT | WS_VISIBLE, 34, 23, 86, 8, IDC_RESUME_TEXT2},
        {L"Button", L"Check1", BS_AUTOCHECKBOX | WS_TABSTOP | WS_VISIBLE, 44, 37, 66, 10, IDC_RESUME_APPLY_ALL},
        {L"Button", L"Button1", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 18, 53, 50, 14, IDC_RESUME_OK},
        {L"Button", L"Button2", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 86, 52, 50, 14, IDC_RESUME_CANCEL},
    },
};

// The main window. Positions here are in dialog units and only rough: the
// dialog lays its controls out in pixels when it initialises. The value
// labels' texts are placeholders that the first data exchange replaces.
const AfxDialogTemplate kMainDialog = {
    IDD_QLSDOWNLOADER_DIALOG,
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_SETFONT,
    499,
    269,
    L"",
    L"MS Shell Dlg",
    8,
    {
        {L"Browser", L"", WS_VISIBLE, 6, 2, 255, 272, IDC_BANNER},
        {L"Static", L"Static", SS_LEFT, 9, 118, 32, 9, IDC_CAPTION1},
        {L"Static", L"Static", SS_LEFT, 9, 132, 32, 9, IDC_CAPTION2},
        {L"Static", L"Static", SS_LEFT, 9, 144, 32, 9, IDC_CAPTION3},
        {L"Static", L"Static", SS_LEFT, 9, 159, 32, 9, IDC_CAPTION4},
        {L"Static", L"Static", SS_LEFT | WS_VISIBLE, 304, 17, 175, 9, IDC_CURRENT_FILE},
        {L"Static", L"Static", SS_LEFT | WS_VISIBLE, 304, 36, 175, 9, IDC_RECEIVED},
        {L"Static", L"Static", SS_LEFT | WS_VISIBLE, 304, 55, 175, 9, IDC_FILE_SIZE},
        {L"Static", L"Static", SS_LEFT | WS_VISIBLE, 307, 82, 57, 9, IDC_ELAPSED_TIME},
        {L"Static", L"Static", SS_LEFT | WS_VISIBLE, 423, 82, 57, 9, IDC_REMAIN_TIME},
        {L"Static", L"Static", SS_LEFT | WS_VISIBLE, 304, 106, 180, 9, IDC_SPEED},
        {L"Static", L"", SS_LEFT | WS_VISIBLE, 257, 118, 228, 42, IDC_GRAPH},
        {L"msctls_progress32", L"", WS_VISIBLE, 294, 174, 191, 11, IDC_FILE_PROGRESS},
        {L"msctls_progress32", L"", WS_VISIBLE, 294, 192, 191, 11, IDC_TOTAL_PROGRESS},
        {L"Static", L"Static", SS_LEFT | WS_VISIBLE, 298, 219, 134, 9, IDC_FOLDER},
        {L"Button", L"", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 441, 217, 43, 12, IDC_CHANGE_FOLDER},
        {L"Button", L"", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 256, 241, 72, 16, IDC_START},
        {L"Button", L"", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 335, 241, 72, 16, IDC_INSTALL},
        {L"Button", L"", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 413, 241, 72, 16, IDC_CLOSE},
        {L"Button", L"초고속 다운로드 동의", BS_AUTOCHECKBOX | WS_TABSTOP, 9, 180, 86, 10, IDC_CONSENT},
        {L"Button", L"", BS_PUSHBUTTON | WS_TABSTOP, 263, 156, 43, 12, IDC_HIDDEN_BUTTON},
    },
};

const AfxDialogTemplate kEmpty = {0, WS_POPUP, 0, 0, L"", L"MS Shell Dlg", 8, {}};

} // namespace

const AfxDialogTemplate& AppDialogTemplate(UINT id)
{
    switch (id) {
    case IDD_QLSDOWNLOADER_DIALOG:
        return kMainDialog;
    case IDD_RESUME_DIALOG:
        return kResumeDialog;
    default:
        return kEmpty;
    }
}
