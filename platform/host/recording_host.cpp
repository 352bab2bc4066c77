#include "morvik/host/recording_host.h"

void RecordingHost::QueueMessageBoxAnswer(int answer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_boxAnswers.push_back(answer);
}

void RecordingHost::SetDefaultMessageBoxAnswer(std::optional<int> answer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_defaultBoxAnswer = answer;
}

void RecordingHost::QueueFileDialogAnswer(std::optional<std::wstring> path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dialogAnswers.push_back(std::move(path));
}

void RecordingHost::QueueSendMessageResult(LRESULT result) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sendResults.push_back(result);
}

void RecordingHost::SetPostMessageResult(BOOL result) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_postResult = result;
}

void RecordingHost::SetFindWindowResult(HWND wnd) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_findResult = wnd;
}

void RecordingHost::SetForegroundWindow(HWND wnd) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_foreground = wnd;
}

std::vector<RecordedMessageBox> RecordingHost::MessageBoxes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_boxes;
}

std::vector<RecordedMessage> RecordingHost::Messages() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

std::vector<RecordedFileDialog> RecordingHost::FileDialogs() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dialogs;
}

std::vector<RecordedFindWindow> RecordingHost::FindWindowCalls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_finds;
}

int RecordingHost::WaitCursorDepth() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_waitCursorDepth;
}

void RecordingHost::ClearRecords() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_boxes.clear();
    m_messages.clear();
    m_dialogs.clear();
    m_finds.clear();
}

int RecordingHost::MessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
    std::lock_guard<std::mutex> lock(m_mutex);
    int answer;
    if (!m_boxAnswers.empty()) {
        answer = m_boxAnswers.front();
        m_boxAnswers.pop_front();
    } else {
        answer = m_defaultBoxAnswer ? *m_defaultBoxAnswer : DefaultMessageBoxAnswer(type);
    }
    m_boxes.push_back({owner, text, caption, type, answer});
    return answer;
}

BOOL RecordingHost::PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.push_back({true, wnd, msg, wParam, lParam});
    return m_postResult;
}

LRESULT RecordingHost::SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.push_back({false, wnd, msg, wParam, lParam});
    if (m_sendResults.empty()) return 0;
    const LRESULT r = m_sendResults.front();
    m_sendResults.pop_front();
    return r;
}

HWND RecordingHost::FindWindow(const std::wstring& className, const std::wstring& windowName) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finds.push_back({className, windowName});
    return m_findResult;
}

HWND RecordingHost::GetForegroundWindow() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_foreground;
}

void RecordingHost::BeginWaitCursor() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_waitCursorDepth;
}

void RecordingHost::EndWaitCursor() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_waitCursorDepth > 0) --m_waitCursorDepth;
}

bool RecordingHost::FileDialog(bool open, const std::wstring& filter, std::wstring& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::optional<std::wstring> answer;
    if (!m_dialogAnswers.empty()) {
        answer = std::move(m_dialogAnswers.front());
        m_dialogAnswers.pop_front();
    }
    m_dialogs.push_back({open, filter, path, answer.has_value(), answer.value_or(std::wstring())});
    if (!answer) return false;
    path = *answer;
    return true;
}
