// Types and constants of the window subset of Win32 that the dialog framework
// owns: drawing (colours, device contexts, fonts, bitmaps), controls, mouse
// and keyboard messages, message boxes. The Win32 layer (windows.h) has the
// kernel, message queue and window-handle part; everything here builds on it.
#pragma once

#include <windows.h>

// ---------------------------------------------------------------------------
// Drawing
typedef DWORD COLORREF;
#define RGB(r, g, b)   ((COLORREF)(((BYTE)(r) | ((WORD)((BYTE)(g)) << 8)) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(rgb) ((BYTE)((rgb)&0xFF))
#define GetGValue(rgb) ((BYTE)(((rgb) >> 8) & 0xFF))
#define GetBValue(rgb) ((BYTE)(((rgb) >> 16) & 0xFF))
#define CLR_NONE       0xFFFFFFFFL

typedef struct tagSIZE {
    LONG cx;
    LONG cy;
} SIZE, *LPSIZE;

typedef const RECT* LPCRECT;

struct HDC__;
typedef HDC__* HDC;
struct HFONT__;
typedef HFONT__* HFONT;
struct HBITMAP__;
typedef HBITMAP__* HBITMAP;
typedef void* HGDIOBJ;

typedef struct tagBITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
} BITMAP;

#define LF_FACESIZE 32
typedef struct tagLOGFONTW {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    WCHAR lfFaceName[LF_FACESIZE];
} LOGFONTW, *LPLOGFONTW;
typedef LOGFONTW LOGFONT;

#define FW_NORMAL           400
#define FW_BOLD             700
#define DEFAULT_CHARSET     1
#define OUT_DEFAULT_PRECIS  0
#define CLIP_DEFAULT_PRECIS 0
#define DEFAULT_QUALITY     0
#define DEFAULT_PITCH       0
#define FF_DONTCARE         0
#define FF_SWISS            0x20

#define TRANSPARENT 1
#define OPAQUE      2

#define TA_LEFT     0
#define TA_TOP      0
#define TA_RIGHT    2
#define TA_CENTER   6
#define TA_BOTTOM   8
#define TA_BASELINE 24

#define DT_TOP          0x00000000
#define DT_LEFT         0x00000000
#define DT_CENTER       0x00000001
#define DT_RIGHT        0x00000002
#define DT_VCENTER      0x00000004
#define DT_BOTTOM       0x00000008
#define DT_WORDBREAK    0x00000010
#define DT_SINGLELINE   0x00000020
#define DT_EXPANDTABS   0x00000040
#define DT_NOCLIP       0x00000100
#define DT_CALCRECT     0x00000400
#define DT_NOPREFIX     0x00000800
#define DT_END_ELLIPSIS 0x00008000

#define SRCCOPY   0x00CC0020
#define SRCPAINT  0x00EE0086
#define SRCAND    0x008800C6
#define SRCINVERT 0x00660046

#define COLOR_WINDOW       5
#define COLOR_WINDOWTEXT   8
#define COLOR_BTNFACE      15
#define COLOR_3DFACE       15
#define COLOR_BTNSHADOW    16
#define COLOR_GRAYTEXT     17
#define COLOR_BTNTEXT      18
#define COLOR_BTNHIGHLIGHT 20
#define COLOR_INFOTEXT     23
#define COLOR_INFOBK       24

// ---------------------------------------------------------------------------
// Messages of windows and controls
#define WM_CANCELMODE     0x001F
#define WM_SETCURSOR      0x0020
#define WM_DRAWITEM       0x002B
#define WM_SETFONT        0x0030
#define WM_GETFONT        0x0031
#define WM_QUERYDRAGICON  0x0037
#define WM_GETDLGCODE     0x0087
#define WM_NCLBUTTONDOWN  0x00A1
#define WM_NCRBUTTONDOWN  0x00A4
#define WM_NCMBUTTONDOWN  0x00A7
#define WM_CTLCOLORMSGBOX 0x0132
#define WM_CTLCOLORBTN    0x0135
#define WM_CTLCOLORDLG    0x0136
#define WM_CTLCOLORSTATIC 0x0138
#define WM_MOUSEMOVE      0x0200
#define WM_LBUTTONDOWN    0x0201
#define WM_LBUTTONUP      0x0202
#define WM_LBUTTONDBLCLK  0x0203
#define WM_RBUTTONDOWN    0x0204
#define WM_RBUTTONUP      0x0205
#define WM_MBUTTONDOWN    0x0207
#define WM_MBUTTONUP      0x0208
#define WM_CAPTURECHANGED 0x0215
#define WM_MOUSELEAVE     0x02A3

#define MK_LBUTTON 0x0001
#define MK_RBUTTON 0x0002
#define MK_SHIFT   0x0004
#define MK_CONTROL 0x0008
#define MK_MBUTTON 0x0010

#define HTCAPTION 2

#define VK_TAB    0x09
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B
#define VK_SPACE  0x20

#define TME_LEAVE 0x00000002

// Buttons
#define BS_PUSHBUTTON      0x00000000L
#define BS_DEFPUSHBUTTON   0x00000001L
#define BS_CHECKBOX        0x00000002L
#define BS_AUTOCHECKBOX    0x00000003L
#define BS_RADIOBUTTON     0x00000004L
#define BS_3STATE          0x00000005L
#define BS_AUTO3STATE      0x00000006L
#define BS_GROUPBOX        0x00000007L
#define BS_AUTORADIOBUTTON 0x00000009L
#define BS_OWNERDRAW       0x0000000BL
#define BS_TYPEMASK        0x0000000FL
#define BM_GETCHECK        0x00F0
#define BM_SETCHECK        0x00F1
#define BM_GETSTATE        0x00F2
#define BM_SETSTATE        0x00F3
#define BM_SETSTYLE        0x00F4
#define BM_CLICK           0x00F5
#define BST_UNCHECKED      0x0000
#define BST_CHECKED        0x0001
#define BST_PUSHED         0x0004
#define BST_FOCUS          0x0008
#define BN_CLICKED         0

// Static controls
#define SS_LEFT        0x00000000L
#define SS_CENTER      0x00000001L
#define SS_RIGHT       0x00000002L
#define SS_BITMAP      0x0000000EL
#define SS_TYPEMASK    0x0000001FL
#define SS_NOTIFY      0x00000100L
#define SS_CENTERIMAGE 0x00000200L
#define STM_SETIMAGE   0x0172
#define STM_GETIMAGE   0x0173
#define IMAGE_BITMAP   0

// Window and dialog styles beyond those of windows.h
#define WS_DISABLED      0x08000000L
#define WS_CLIPSIBLINGS  0x04000000L
#define WS_BORDER        0x00800000L
#define WS_DLGFRAME      0x00400000L
#define WS_VSCROLL       0x00200000L
#define WS_HSCROLL       0x00100000L
#define WS_GROUP         0x00020000L
#define WS_TABSTOP       0x00010000L
#define WS_EX_TOPMOST    0x00000008L
#define WS_EX_TOOLWINDOW 0x00000080L
#define WS_EX_APPWINDOW  0x00040000L
#define DS_SETFONT       0x40L
#define DS_MODALFRAME    0x80L
#define DS_CENTER        0x0800L

#define SWP_NOSIZE       0x0001
#define SWP_NOMOVE       0x0002
#define SWP_NOZORDER     0x0004
#define SWP_NOREDRAW     0x0008
#define SWP_NOACTIVATE   0x0010
#define SWP_FRAMECHANGED 0x0020
#define SWP_SHOWWINDOW   0x0040
#define SWP_HIDEWINDOW   0x0080
#define HWND_TOP         ((HWND)0)
#define HWND_BOTTOM      ((HWND)1)
#define HWND_TOPMOST     ((HWND)-1)

#define SB_HORZ 0
#define SB_VERT 1
#define SB_BOTH 3

#define RDW_INVALIDATE  0x0001
#define RDW_ERASE       0x0004
#define RDW_ALLCHILDREN 0x0080
#define RDW_UPDATENOW   0x0100
#define RDW_ERASENOW    0x0200

#define DM_GETDEFID (WM_USER + 0)
#define DM_SETDEFID (WM_USER + 1)
#define DC_HASDEFID 0x534B

#define CTLCOLOR_MSGBOX 0
#define CTLCOLOR_BTN    3
#define CTLCOLOR_DLG    4
#define CTLCOLOR_STATIC 6

// Owner drawing
#define ODT_BUTTON     4
#define ODT_STATIC     5
#define ODA_DRAWENTIRE 0x0001
#define ODA_SELECT     0x0002
#define ODA_FOCUS      0x0004
#define ODS_SELECTED   0x0001
#define ODS_GRAYED     0x0002
#define ODS_DISABLED   0x0004
#define ODS_CHECKED    0x0008
#define ODS_FOCUS      0x0010

typedef struct tagDRAWITEMSTRUCT {
    UINT CtlType;
    UINT CtlID;
    UINT itemID;
    UINT itemAction;
    UINT itemState;
    HWND hwndItem;
    HDC hDC;
    RECT rcItem;
    ULONG_PTR itemData;
} DRAWITEMSTRUCT, *LPDRAWITEMSTRUCT;

// ---------------------------------------------------------------------------
// Message boxes and dialog results
#define MB_OK              0x00000000L
#define MB_OKCANCEL        0x00000001L
#define MB_YESNOCANCEL     0x00000003L
#define MB_YESNO           0x00000004L
#define MB_TYPEMASK        0x0000000FL
#define MB_ICONHAND        0x00000010L
#define MB_ICONERROR       MB_ICONHAND
#define MB_ICONQUESTION    0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONWARNING     MB_ICONEXCLAMATION
#define MB_ICONASTERISK    0x00000040L
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_ICONMASK        0x000000F0L

#define IDOK     1
#define IDCANCEL 2
#define IDABORT  3
#define IDRETRY  4
#define IDIGNORE 5
#define IDYES    6
#define IDNO     7

// ---------------------------------------------------------------------------
// Shell's folder browser
#define BIF_RETURNONLYFSDIRS  0x00000001
#define BIF_DONTGOBELOWDOMAIN 0x00000002
#define BIF_STATUSTEXT        0x00000004
#define BIF_NEWDIALOGSTYLE    0x00000040
#define BFFM_INITIALIZED      1
#define BFFM_SELCHANGED       2
#define BFFM_SETSELECTIONW    (WM_USER + 103)
#define BFFM_SETSTATUSTEXTW   (WM_USER + 104)

// ---------------------------------------------------------------------------
// Component automation values, as far as hosted controls take them.
typedef struct tagVARIANT {
    WORD vt;
    LONG_PTR value;
} VARIANT;
