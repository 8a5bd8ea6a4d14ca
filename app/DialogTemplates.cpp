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

const AfxDialogTemplate kEmpty = {0, WS_POPUP, 0, 0, L"", L"MS Shell Dlg", 8, {}};

} // namespace

const AfxDialogTemplate& AppDialogTemplate(UINT id)
{
    switch (id) {
    case IDD_RESUME_DIALOG:
        return kResumeDialog;
    default:
        return kEmpty;
    }
}
