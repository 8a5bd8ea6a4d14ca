// The dialog templates of the downloader, by template id.
#pragma once

#include <afxwin.h>

// The template `id`; an empty template for an unknown id.
const AfxDialogTemplate& AppDialogTemplate(UINT id);
