// Resource ids of the downloader: dialog templates, controls and bitmaps.
#pragma once

// Dialog templates.
#define IDD_QLSDOWNLOADER_DIALOG 102
#define IDD_RESUME_DIALOG        197

// Application icon.
#define IDR_MAINFRAME 128

// Bitmaps. Buttons come in threes: hover/pressed, normal, disabled.
#define IDB_FOLDER_HOVER     164
#define IDB_FOLDER_NORMAL    165
#define IDB_FOLDER_DISABLED  166
#define IDB_HIDDEN_HOVER     168
#define IDB_HIDDEN_NORMAL    169
#define IDB_HIDDEN_DISABLED  170
#define IDB_CLOSE_NORMAL     171
#define IDB_CLOSE_DISABLED   172
#define IDB_CLOSE_HOVER      173
#define IDB_START_NORMAL     174
#define IDB_START_DISABLED   175
#define IDB_START_HOVER      176
#define IDB_CHECK_UNCHECKED  177
#define IDB_CHECK_CHECKED    178
#define IDB_PROGRESS_FILL    179
#define IDB_PROGRESS_BACK    180
#define IDB_FRAME_TOP        187
#define IDB_FRAME_BOTTOM     188
#define IDB_FRAME_LEFT       189
#define IDB_FRAME_PANEL      190
#define IDB_STOP_HOVER       191
#define IDB_STOP_NORMAL      192
#define IDB_STOP_DISABLED    193
#define IDB_INSTALL_HOVER    197
#define IDB_INSTALL_DISABLED 198
#define IDB_INSTALL_NORMAL   199
#define IDB_GRAPH_BACK       200

// Controls of the resume dialog.
#define IDC_RESUME_APPLY_ALL 1019
#define IDC_RESUME_OK        1020
#define IDC_RESUME_CANCEL    1021
#define IDC_RESUME_TEXT1     1022
#define IDC_RESUME_TEXT2     1023

// Controls of the main dialog.
#define IDC_BANNER         1000
#define IDC_CAPTION1       1001
#define IDC_CURRENT_FILE   1002
#define IDC_REMAIN_TIME    1003
#define IDC_CAPTION2       1004
#define IDC_FILE_SIZE      1005
#define IDC_CAPTION4       1006
#define IDC_FOLDER         1007
#define IDC_CHANGE_FOLDER  1008
#define IDC_HIDDEN_BUTTON  1009
#define IDC_CONSENT        1010
#define IDC_START          1011
#define IDC_CLOSE          1012
#define IDC_FILE_PROGRESS  1013
#define IDC_CAPTION3       1014
#define IDC_RECEIVED       1015
#define IDC_TOTAL_PROGRESS 1016
#define IDC_INSTALL        1017
#define IDC_GRAPH          1018
#define IDC_SPEED          1019
#define IDC_ELAPSED_TIME   1020
#define IDC_FRAME_PANEL    20000
