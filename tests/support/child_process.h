// Running a piece of a test in a forked child: under a file-size limit (so
// that the limit never reaches the test process), or to be killed part way.
// POSIX only.
#ifndef TESTS_SUPPORT_CHILD_PROCESS_H
#define TESTS_SUPPORT_CHILD_PROCESS_H

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

namespace testsupport {

// Waits for the child for at most `timeoutMs` (then kills it); its exit
// code, 128 + the signal that ended it, or -1 when it had to be killed.
inline int WaitChild(pid_t pid, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0) return -1;
        if (std::chrono::steady_clock::now() > until) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Runs `body` in a child whose files may not grow beyond `limitBytes`
// (SIGXFSZ ignored, so a write past the limit fails with EFBIG); the exit
// code is what body returned.
inline int RunWithFileSizeLimit(rlim_t limitBytes, const std::function<int()>& body, int timeoutMs = 60000) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit lim{limitBytes, RLIM_INFINITY};
        if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) ::_exit(250);
        ::_exit(body());
    }
    return pid < 0 ? -1 : WaitChild(pid, timeoutMs);
}

// Starts `body` in a child that never returns by itself and kills it after
// `delayUs`; true when the child was reaped.
inline bool KillDuring(const std::function<void()>& body, int delayUs) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        body();
        ::_exit(0);
    }
    if (pid < 0) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
    ::kill(pid, SIGKILL);
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid;
}

}  // namespace testsupport

#endif  // TESTS_SUPPORT_CHILD_PROCESS_H
