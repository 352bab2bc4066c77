#include "morvik/host/host_services.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace {

struct HostState {
    std::mutex mutex;
    std::shared_ptr<IHostServices> headless = std::make_shared<HeadlessHost>();
    std::shared_ptr<IHostServices> current = headless;
};

// Never destroyed: threads that outlive main may still show a message.
HostState& State() {
    static HostState* state = new HostState;
    return *state;
}

std::atomic<HostLogSink> g_logSink{nullptr};

std::wstring OrEmpty(const wchar_t* s) { return s ? std::wstring(s) : std::wstring(); }

}  // namespace

int DefaultMessageBoxAnswer(UINT type) {
    static const int kOk[] = {IDOK};
    static const int kOkCancel[] = {IDOK, IDCANCEL};
    static const int kAbortRetryIgnore[] = {IDABORT, IDRETRY, IDIGNORE};
    static const int kYesNoCancel[] = {IDYES, IDNO, IDCANCEL};
    static const int kYesNo[] = {IDYES, IDNO};
    static const int kRetryCancel[] = {IDRETRY, IDCANCEL};
    const int* buttons = kOk;
    size_t count = 1;
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        buttons = kOkCancel, count = 2;
        break;
    case MB_ABORTRETRYIGNORE:
        buttons = kAbortRetryIgnore, count = 3;
        break;
    case MB_YESNOCANCEL:
        buttons = kYesNoCancel, count = 3;
        break;
    case MB_YESNO:
        buttons = kYesNo, count = 2;
        break;
    case MB_RETRYCANCEL:
        buttons = kRetryCancel, count = 2;
        break;
    default:
        break;
    }
    const size_t def = (type & MB_DEFMASK) >> 8;
    return buttons[def < count ? def : 0];
}

int HeadlessHost::MessageBox(HWND, const std::wstring& text, const std::wstring& caption, UINT type) {
    const std::wstring line = caption.empty() ? text : caption + L": " + text;
    if (HostLogSink sink = g_logSink.load()) sink(line);
    // One write per message, so lines of concurrent boxes do not interleave.
    const std::string out = WideToUtf8(line) + "\n";
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
    return DefaultMessageBoxAnswer(type);
}

BOOL HeadlessHost::PostMessage(HWND, UINT, WPARAM, LPARAM) {
    // There is no window to deliver to.
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
}

LRESULT HeadlessHost::SendMessage(HWND, UINT, WPARAM, LPARAM) { return 0; }

HWND HeadlessHost::FindWindow(const std::wstring&, const std::wstring&) { return nullptr; }

HWND HeadlessHost::GetForegroundWindow() { return nullptr; }

void HeadlessHost::BeginWaitCursor() {}

void HeadlessHost::EndWaitCursor() {}

bool HeadlessHost::FileDialog(bool, const std::wstring&, std::wstring&) { return false; }

std::shared_ptr<IHostServices> HostServicesPtr() {
    HostState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.current;
}

IHostServices& Host() {
    // Keeps this thread's last answer alive, whatever SetHost does meanwhile.
    thread_local std::shared_ptr<IHostServices> pinned;
    pinned = HostServicesPtr();
    return *pinned;
}

std::shared_ptr<IHostServices> SetHost(std::shared_ptr<IHostServices> host) {
    HostState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::shared_ptr<IHostServices> previous = std::move(s.current);
    s.current = host ? std::move(host) : s.headless;
    return previous;
}

void SetHostLogSink(HostLogSink sink) { g_logSink.store(sink); }

int MessageBoxW(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    // Win32 titles a box without caption "Error".
    return HostServicesPtr()->MessageBox(owner, OrEmpty(text), caption ? std::wstring(caption) : L"Error", type);
}

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    const std::wstring wtext = text ? AnsiToWide(text) : std::wstring();
    const std::wstring wcaption = caption ? AnsiToWide(caption) : std::wstring(L"Error");
    return HostServicesPtr()->MessageBox(owner, wtext, wcaption, type);
}

BOOL PostMessageW(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return HostServicesPtr()->PostMessage(wnd, msg, wParam, lParam);
}

LRESULT SendMessageW(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return HostServicesPtr()->SendMessage(wnd, msg, wParam, lParam);
}

HWND FindWindowW(const wchar_t* className, const wchar_t* windowName) {
    return HostServicesPtr()->FindWindow(OrEmpty(className), OrEmpty(windowName));
}

HWND GetForegroundWindowHost() { return HostServicesPtr()->GetForegroundWindow(); }
