// The dialog framework: application object, windows, dialogs, controls,
// drawing, message boxes and the folder browser.
#pragma once

#include "afx/AfxTypes.h"
#include "afx/CButton.h"
#include "afx/CCmdTarget.h"
#include "afx/CDC.h"
#include "afx/CDialog.h"
#include "afx/CProgressCtrl.h"
#include "afx/CStatic.h"
#include "afx/CString.h"
#include "afx/CWinApp.h"
#include "afx/CWnd.h"
#include "afx/DesktopNotification.h"
#include "afx/DialogTemplate.h"
#include "afx/FolderBrowser.h"
#include "afx/GdiObjects.h"
#include "afx/Geometry.h"
#include "afx/MessageBox.h"
#include "afx/MessageMap.h"
#include "afx/PaintingWait.h"
#include "afx/WebBrowser.h"
