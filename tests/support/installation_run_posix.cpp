// Running the program on POSIX: fork and exec, its resources from wait4.
#include "tests/support/installation.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace e2e {

Installation::RunResult Installation::run(const std::string& program) const {
    RunResult result;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) return result;
    if (pid == 0) {
        ::setenv("JOBROOT", root().c_str(), 1);
        ::setenv("JOBTMP", work().c_str(), 1);
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open((base_ + "program.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in >= 0) ::dup2(in, 0);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (::wait4(pid, &status, 0, &usage) != pid) return result;
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.peakResidentKb = usage.ru_maxrss;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (WIFSIGNALED(status))
        std::fprintf(stderr, "%s ended by signal %d\n", program.c_str(), WTERMSIG(status));
    return result;
}

}  // namespace e2e
