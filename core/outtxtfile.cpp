#include "morvik/core/outtxtfile.h"

#include <cstdio>
#include <ctime>
#include <cwchar>
#include <string>

#include "morvik/core/text_utils.h"
#include "morvik/win32/windows.h"

namespace {

// "YYYY-MM-DD HH:MM:SS" and the bar after it.
constexpr size_t kStampLength = 19;
constexpr size_t kStampedPrefix = kStampLength + 1;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// True when the line starts with a time stamp of the record's own format
// followed by the bar that separates it from the text.
bool HasStampPrefix(const std::string& line) {
    static constexpr char kShape[] = "0000-00-00 00:00:00|";
    if (line.size() < kStampedPrefix) return false;
    for (size_t i = 0; i < kStampedPrefix; ++i) {
        if (kShape[i] == '0' ? !IsDigit(line[i]) : line[i] != kShape[i]) return false;
    }
    return true;
}

// One record line against the target: the whole line is the text, or the
// text follows a time stamp. A prefix or a text further on does not count.
bool LineMatches(std::string& line, const std::string& target) {
    // A file edited elsewhere may end its lines with CR LF.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == target) return true;
    return line.size() == kStampedPrefix + target.size() && HasStampPrefix(line) &&
           line.compare(kStampedPrefix, std::string::npos, target) == 0;
}

}  // namespace

void COutTxtFile::SetOutFlag(int enable, int stamp, int flag3, const CString& path) {
    m_bOutput = enable;
    m_bTimeStamp = stamp;
    m_nFlag3 = flag3;
    m_strPath = path;
}

void COutTxtFile::SetMapString(const CString& text) {
    m_mapTexts[static_cast<int>(m_nCurCnt)] = text;
    ++m_nCurCnt;
    SaveTxtToFile(text);
}

void COutTxtFile::SaveTxtToFile(const CString& text) const {
    if (m_bOutput == 0 || text.IsEmpty()) return;

    // The stamp is made before the file is opened so that a failure leaves
    // nothing half written.
    CString line;
    if (m_bTimeStamp != 0) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        if (localtime_r(&now, &local) == nullptr) return;
        wchar_t stamp[30] = {};
        if (std::wcsftime(stamp, 30, L"%Y-%m-%d %H:%M:%S", &local) == 0) return;
        line = CString(stamp) + L"|";
    }
    // Every record ends with its own line feed, however long it is, so the
    // next record always starts a line of its own.
    line += text;
    line += L"\n";

    const std::string path = WidePathToUtf8(m_strPath.GetString());
    FILE* file = std::fopen(path.c_str(), "a+");
    if (file == nullptr) return;
    // A file whose last line has no line feed (edited by hand, or cut short)
    // would otherwise swallow this record into that line.
    std::string bytes = WideToAnsiString(line);
    if (std::fseek(file, -1, SEEK_END) == 0 && std::fgetc(file) != '\n') bytes.insert(bytes.begin(), '\n');
    std::fseek(file, 0, SEEK_END);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

int COutTxtFile::IsMarked(const CString& text) const {
    const std::string path = WidePathToUtf8(m_strPath.GetString());
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return 0;

    const std::string target = WideToAnsiString(text);
    // No line longer than a stamped target plus a carriage return can match,
    // so a longer line is only scanned for its end, never kept whole.
    const size_t keep = kStampedPrefix + target.size() + 1;

    int found = 0;
    std::string line;
    bool inLine = false;
    char buffer[65536];
    size_t got = 0;
    while (found == 0 && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        for (size_t i = 0; i < got; ++i) {
            if (buffer[i] == '\n') {
                if (line.size() <= keep && LineMatches(line, target)) {
                    found = 1;
                    break;
                }
                line.clear();
                inLine = false;
            } else {
                inLine = true;
                if (line.size() <= keep) line.push_back(buffer[i]);
            }
        }
    }
    // The last line counts whole even without a line feed.
    if (found == 0 && inLine && line.size() <= keep && LineMatches(line, target)) found = 1;
    std::fclose(file);
    return found;
}
