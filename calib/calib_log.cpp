// The run log as the calibration library writes to it: the day's file under
// "Log/" beside the host executable, one stamped line per call, the same
// layout as the shape library's log. Best effort and never blocking: a log
// that cannot be reached at once loses the line.
#include "calib_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>

namespace calib {

namespace {

std::string ExeFolder() {
    char buf[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0) return std::string();
    std::string path(buf, static_cast<std::size_t>(n));
    return path.substr(0, path.find_last_of('/') + 1);
}

}  // namespace

void LogLine(const std::string& text) noexcept {
    try {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        std::tm t{};
        ::localtime_r(&now.tv_sec, &t);
        char day[16], stamp[40];
        std::snprintf(day, sizeof day, "%04d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
        std::snprintf(stamp, sizeof stamp, "[%04d-%02d-%02d %02d:%02d:%02d.%03d]", t.tm_year + 1900, t.tm_mon + 1,
                      t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(now.tv_nsec / 1000000));
        const std::string folder = ExeFolder();
        if (folder.empty()) return;
        const std::string logFolder = folder + "Log";
        const std::string dayFolder = logFolder + "/" + day;
        ::mkdir(logFolder.c_str(), 0777);
        ::mkdir(dayFolder.c_str(), 0777);
        const int fd = ::open((dayFolder + "/run.log").c_str(),
                              O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0) return;
        struct stat st {};
        // Only a regular file: a pipe or a device there would hold the line
        // (and the caller) up.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            const std::string line = stamp + text + "\n";
            ssize_t n;
            do {
                n = ::write(fd, line.data(), line.size());
            } while (n < 0 && errno == EINTR);
        }
        ::close(fd);
    } catch (...) {
    }
}

}  // namespace calib
