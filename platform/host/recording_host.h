// A host-services double for tests: it records every message box, window
// message, window lookup and file dialog, and answers from queues of scripted
// results (a default answer once a queue is empty). Safe to use from several
// threads.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "morvik/host/host_services.h"

struct MORVIK_API RecordedMessageBox {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT type;
    int answer;
};

struct MORVIK_API RecordedMessage {
    bool posted;  // PostMessage (true) or SendMessage (false)
    HWND wnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

struct MORVIK_API RecordedFileDialog {
    bool open;
    std::wstring filter;
    std::wstring initialPath;
    bool accepted;
    std::wstring chosenPath;
};

struct MORVIK_API RecordedFindWindow {
    std::wstring className;
    std::wstring windowName;
};

class MORVIK_API RecordingHost : public IHostServices {
public:
    // ---- scripting ----
    // The next message boxes answer with these, in order.
    void QueueMessageBoxAnswer(int answer);
    // Answer once the queue is empty; without one, the box's default button.
    void SetDefaultMessageBoxAnswer(std::optional<int> answer);
    // The next file dialogs: a path means the user chose it, nullopt that
    // the user cancelled. Once the queue is empty dialogs are cancelled.
    void QueueFileDialogAnswer(std::optional<std::wstring> path);
    // Results of SendMessage in order; 0 once the queue is empty.
    void QueueSendMessageResult(LRESULT result);
    // What PostMessage returns (TRUE unless set).
    void SetPostMessageResult(BOOL result);
    // What FindWindow and GetForegroundWindow return (null unless set).
    void SetFindWindowResult(HWND wnd);
    void SetForegroundWindow(HWND wnd);

    // ---- records (copies) ----
    std::vector<RecordedMessageBox> MessageBoxes() const;
    std::vector<RecordedMessage> Messages() const;
    std::vector<RecordedFileDialog> FileDialogs() const;
    std::vector<RecordedFindWindow> FindWindowCalls() const;
    int WaitCursorDepth() const;
    void ClearRecords();

    // ---- IHostServices ----
    int MessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) override;
    BOOL PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    HWND FindWindow(const std::wstring& className, const std::wstring& windowName) override;
    HWND GetForegroundWindow() override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    bool FileDialog(bool open, const std::wstring& filter, std::wstring& path) override;

private:
    mutable std::mutex m_mutex;
    std::deque<int> m_boxAnswers;
    std::optional<int> m_defaultBoxAnswer;
    std::deque<std::optional<std::wstring>> m_dialogAnswers;
    std::deque<LRESULT> m_sendResults;
    BOOL m_postResult = TRUE;
    HWND m_findResult = nullptr;
    HWND m_foreground = nullptr;
    int m_waitCursorDepth = 0;
    std::vector<RecordedMessageBox> m_boxes;
    std::vector<RecordedMessage> m_messages;
    std::vector<RecordedFileDialog> m_dialogs;
    std::vector<RecordedFindWindow> m_finds;
};
