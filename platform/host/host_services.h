// Everything a host's user interface does for the library goes through one
// replaceable object: message boxes, posting window messages, finding
// windows, redraw switches, the wait cursor and file dialogs.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <memory>
#include <string>
#include <vector>

#include "morvik/win32/windows.h"

class MORVIK_API IHostServices {
public:
    virtual ~IHostServices() = default;
    // Returns the button pressed (IDOK, IDCANCEL, IDYES, IDNO).
    virtual int MessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) = 0;
    virtual BOOL PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
    virtual LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
    virtual HWND FindWindow(const std::wstring& className, const std::wstring& windowName) = 0;
    virtual HWND GetForegroundWindow() = 0;
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
    // Returns true and the chosen path, or false when the user cancelled.
    virtual bool FileDialog(bool open, const std::wstring& filter, std::wstring& path) = 0;
};

// Headless default: messages go to the run log and standard error, and the
// answer is the box's default button (IDOK, or IDYES for yes/no boxes); file
// dialogs answer "cancelled"; window messages go nowhere.
class MORVIK_API HeadlessHost : public IHostServices {
public:
    int MessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) override;
    BOOL PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    HWND FindWindow(const std::wstring& className, const std::wstring& windowName) override;
    HWND GetForegroundWindow() override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    bool FileDialog(bool open, const std::wstring& filter, std::wstring& path) override;
};

// The button a box of this type answers with when nobody is there to press
// one: its default button (MB_DEFBUTTON2/3 honoured), e.g. IDOK for MB_OK and
// MB_OKCANCEL, IDYES for MB_YESNO and MB_YESNOCANCEL.
MORVIK_API int DefaultMessageBoxAnswer(UINT type);

// The current host services object (the headless default until a host sets
// its own). Safe to call from any thread. The reference stays valid until the
// same thread calls Host() again, even when another thread installs a new
// host meanwhile; code that keeps the object longer takes HostServicesPtr().
MORVIK_API IHostServices& Host();
MORVIK_API std::shared_ptr<IHostServices> HostServicesPtr();
// Installs a host's services; null restores the headless default. The
// previous object is returned to the caller.
MORVIK_API std::shared_ptr<IHostServices> SetHost(std::shared_ptr<IHostServices> host);

// Where the headless default writes the texts of its message boxes besides
// standard error; the run log installs itself here when it exists.
using HostLogSink = void (*)(const std::wstring& line);
MORVIK_API void SetHostLogSink(HostLogSink sink);

// Win32-style free functions, routed through Host().
int MessageBoxW(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
BOOL PostMessageW(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageW(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
HWND FindWindowW(const wchar_t* className, const wchar_t* windowName);
HWND GetForegroundWindowHost();
