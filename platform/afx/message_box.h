// MFC's application message box, shown through the host services with the
// application's name as the caption.
#pragma once

#include "morvik/win32/windows.h"

// Returns the button pressed (IDOK, IDCANCEL, IDYES, IDNO). A null text
// shows an empty message.
int AfxMessageBox(const wchar_t* text, UINT type = MB_OK, UINT helpId = 0);
