#include "morvik/afx/message_box.h"

#include "morvik/host/host_services.h"

int AfxMessageBox(const wchar_t* text, UINT type, UINT /*helpId*/) {
    return MessageBoxW(nullptr, text ? text : L"", L"Morvik", type);
}
