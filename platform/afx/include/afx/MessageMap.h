// Message maps: the table in each window class that binds message numbers,
// commands of controls and the standard window messages to handler members.
//
//   BEGIN_MESSAGE_MAP(CMyDialog, CDialog)
//       ON_MESSAGE(0x2B10, &CMyDialog::OnLibraryEvent)
//       ON_BN_CLICKED(1011, &CMyDialog::OnStart)
//       ON_WM_CLOSE()
//   END_MESSAGE_MAP()
//
// A window looks for a message in its own class's table first, then in the
// tables of its base classes; what no table binds takes the window's default
// course (DefWindowProc).
#pragma once

#include "afx/AfxTypes.h"

class CWnd;

// Reflected messages: a control sees its parent's notifications about it
// with this offset before the parent does.
#define WM_REFLECT_BASE 0xBC00
// The colour request, whichever of the WM_CTLCOLOR* messages carried it.
#define AFX_WM_CTLCOLOR 0x0019

typedef LRESULT (*AFX_MSG_THUNK)(CWnd* self, UINT message, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT message; // the message; WM_COMMAND for commands
    UINT code;    // notification code of a command
    UINT id;      // control id of a command
    AFX_MSG_THUNK thunk;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* entries;
};

#define DECLARE_MESSAGE_MAP()                     \
protected:                                        \
    static const AFX_MSGMAP* GetThisMessageMap(); \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)        \
    const AFX_MSGMAP* theClass::GetMessageMap() const \
    {                                                 \
        return GetThisMessageMap();                   \
    }                                                 \
    const AFX_MSGMAP* theClass::GetThisMessageMap()   \
    {                                                 \
        typedef theClass ThisClass;                   \
        typedef baseClass TheBaseClass;               \
        static const AFX_MSGMAP_ENTRY messageEntries[] = {
#define END_MESSAGE_MAP()                                                                        \
    {                                                                                            \
        0, 0, 0, nullptr                                                                         \
    }                                                                                            \
    }                                                                                            \
    ;                                                                                            \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &messageEntries[0]}; \
    return &messageMap;                                                                          \
    }

#define AFX_THUNK(body)                                                         \
    [](CWnd* self_, UINT message_, WPARAM wParam_, LPARAM lParam_) -> LRESULT { \
        (void)message_;                                                         \
        (void)wParam_;                                                          \
        (void)lParam_;                                                          \
        ThisClass* self = static_cast<ThisClass*>(self_);                       \
        body                                                                    \
    }

// Messages with the raw parameters: LRESULT OnX(WPARAM, LPARAM).
#define ON_MESSAGE(msg, memberFxn)                                             \
    {                                                                          \
        (msg), 0, 0, AFX_THUNK(return (self->*(memberFxn))(wParam_, lParam_);) \
    }                                                                          \
    ,

// Commands: void OnX().
#define ON_COMMAND(id, memberFxn)                                                  \
    {                                                                              \
        WM_COMMAND, BN_CLICKED, (id), AFX_THUNK((self->*(memberFxn))(); return 1;) \
    }                                                                              \
    ,
#define ON_BN_CLICKED(id, memberFxn) ON_COMMAND(id, memberFxn)
#define ON_CONTROL(code, id, memberFxn)                                        \
    {                                                                          \
        WM_COMMAND, (code), (id), AFX_THUNK((self->*(memberFxn))(); return 1;) \
    }                                                                          \
    ,

// A control's own handling of its notification, before the parent's.
// The _EX form returns BOOL: TRUE keeps the notification from the parent.
#define ON_CONTROL_REFLECT(code, memberFxn)                                                   \
    {                                                                                         \
        WM_REFLECT_BASE + WM_COMMAND, (code), 0, AFX_THUNK((self->*(memberFxn))(); return 1;) \
    }                                                                                         \
    ,
#define ON_CONTROL_REFLECT_EX(code, memberFxn)                                             \
    {                                                                                      \
        WM_REFLECT_BASE + WM_COMMAND, (code), 0, AFX_THUNK(return (self->*(memberFxn))();) \
    }                                                                                      \
    ,
#define ON_BN_CLICKED_REFLECT_EX(memberFxn) ON_CONTROL_REFLECT_EX(BN_CLICKED, memberFxn)

// Standard window messages, bound to handlers with the usual names.
#define ON_WM_PAINT()                                         \
    {                                                         \
        WM_PAINT, 0, 0, AFX_THUNK(self->OnPaint(); return 0;) \
    }                                                         \
    ,
#define ON_WM_ERASEBKGND()                                                                                          \
    {                                                                                                               \
        WM_ERASEBKGND, 0, 0, AFX_THUNK(return self->OnEraseBkgnd(CDC::FromHandle(reinterpret_cast<HDC>(wParam_)));) \
    }                                                                                                               \
    ,
#define ON_WM_MOUSEMOVE()                                                                                    \
    {                                                                                                        \
        WM_MOUSEMOVE, 0, 0,                                                                                  \
            AFX_THUNK(self->OnMouseMove(static_cast<UINT>(wParam_), AfxPointFromLParam(lParam_)); return 0;) \
    }                                                                                                        \
    ,
#define ON_WM_LBUTTONDOWN()                                                                                    \
    {                                                                                                          \
        WM_LBUTTONDOWN, 0, 0,                                                                                  \
            AFX_THUNK(self->OnLButtonDown(static_cast<UINT>(wParam_), AfxPointFromLParam(lParam_)); return 0;) \
    }                                                                                                          \
    ,
#define ON_WM_LBUTTONUP()                                                                                    \
    {                                                                                                        \
        WM_LBUTTONUP, 0, 0,                                                                                  \
            AFX_THUNK(self->OnLButtonUp(static_cast<UINT>(wParam_), AfxPointFromLParam(lParam_)); return 0;) \
    }                                                                                                        \
    ,
#define ON_WM_LBUTTONDBLCLK()                                                                                    \
    {                                                                                                            \
        WM_LBUTTONDBLCLK, 0, 0,                                                                                  \
            AFX_THUNK(self->OnLButtonDblClk(static_cast<UINT>(wParam_), AfxPointFromLParam(lParam_)); return 0;) \
    }                                                                                                            \
    ,
#define ON_WM_SETFOCUS()                                                                                             \
    {                                                                                                                \
        WM_SETFOCUS, 0, 0, AFX_THUNK(self->OnSetFocus(CWnd::FromHandle(reinterpret_cast<HWND>(wParam_))); return 0;) \
    }                                                                                                                \
    ,
#define ON_WM_KILLFOCUS()                                                                                              \
    {                                                                                                                  \
        WM_KILLFOCUS, 0, 0, AFX_THUNK(self->OnKillFocus(CWnd::FromHandle(reinterpret_cast<HWND>(wParam_))); return 0;) \
    }                                                                                                                  \
    ,
#define ON_WM_ACTIVATE()                                                                                               \
    {                                                                                                                  \
        WM_ACTIVATE, 0, 0,                                                                                             \
            AFX_THUNK(                                                                                                 \
                self->OnActivate(LOWORD(wParam_), CWnd::FromHandle(reinterpret_cast<HWND>(lParam_)), HIWORD(wParam_)); \
                return 0;)                                                                                             \
    }                                                                                                                  \
    ,
#define ON_WM_ENABLE()                                                                    \
    {                                                                                     \
        WM_ENABLE, 0, 0, AFX_THUNK(self->OnEnable(static_cast<BOOL>(wParam_)); return 0;) \
    }                                                                                     \
    ,
#define ON_WM_CANCELMODE()                                              \
    {                                                                   \
        WM_CANCELMODE, 0, 0, AFX_THUNK(self->OnCancelMode(); return 0;) \
    }                                                                   \
    ,
#define ON_WM_TIMER()                                                                       \
    {                                                                                       \
        WM_TIMER, 0, 0, AFX_THUNK(self->OnTimer(static_cast<UINT_PTR>(wParam_)); return 0;) \
    }                                                                                       \
    ,
#define ON_WM_CLOSE()                                         \
    {                                                         \
        WM_CLOSE, 0, 0, AFX_THUNK(self->OnClose(); return 0;) \
    }                                                         \
    ,
#define ON_WM_DESTROY()                                           \
    {                                                             \
        WM_DESTROY, 0, 0, AFX_THUNK(self->OnDestroy(); return 0;) \
    }                                                             \
    ,
#define ON_WM_SYSCOMMAND()                                                                                 \
    {                                                                                                      \
        WM_SYSCOMMAND, 0, 0, AFX_THUNK(self->OnSysCommand(static_cast<UINT>(wParam_), lParam_); return 0;) \
    }                                                                                                      \
    ,
#define ON_WM_QUERYDRAGICON()                                                                         \
    {                                                                                                 \
        WM_QUERYDRAGICON, 0, 0, AFX_THUNK(return reinterpret_cast<LRESULT>(self->OnQueryDragIcon());) \
    }                                                                                                 \
    ,
#define ON_WM_CTLCOLOR()                                                                                          \
    {                                                                                                             \
        AFX_WM_CTLCOLOR, 0, 0,                                                                                    \
            AFX_THUNK(return reinterpret_cast<LRESULT>(                                                           \
                                 self->OnCtlColor(CDC::FromHandle(reinterpret_cast<HDC>(wParam_)),                \
                                                  CWnd::FromHandle(reinterpret_cast<HWND>(lParam_)), message_));) \
    }                                                                                                             \
    ,
#define ON_WM_CTLCOLOR_REFLECT()                                                                              \
    {                                                                                                         \
        WM_REFLECT_BASE + AFX_WM_CTLCOLOR, 0, 0,                                                              \
            AFX_THUNK(return reinterpret_cast<LRESULT>(                                                       \
                                 self->CtlColor(CDC::FromHandle(reinterpret_cast<HDC>(wParam_)), message_));) \
    }                                                                                                         \
    ,
