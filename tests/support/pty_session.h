// A program run on a new pseudo-terminal, for tests of what a terminal
// operator sees: its output is collected, keys can be typed, and the
// terminal's input mode can be watched (to tell when it waits for one key).
// POSIX only.
#pragma once

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class PtySession {
public:
    // Starts `args` (args[0] is the program's path) on a terminal of `rows`
    // by `columns`; `environment` replaces the environment when not empty.
    PtySession(std::vector<std::string> args, const std::vector<std::string>& environment, int rows,
               int columns, int timeoutMs)
        : timeoutMs_(timeoutMs) {
        struct winsize ws {};
        ws.ws_row = static_cast<unsigned short>(rows);
        ws.ws_col = static_cast<unsigned short>(columns);
        std::vector<std::string> env = environment;
        pid_ = ::forkpty(&master_, nullptr, nullptr, &ws);
        if (pid_ == 0) {
            auto argv = cStrings(args);
            if (env.empty()) {
                ::execv(argv[0], argv.data());
            } else {
                auto envp = cStrings(env);
                ::execve(argv[0], argv.data(), envp.data());
            }
            ::_exit(127);
        }
    }
    ~PtySession() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) ::close(master_);
    }
    PtySession(const PtySession&) = delete;
    PtySession& operator=(const PtySession&) = delete;

    bool started() const { return pid_ > 0 && master_ >= 0; }
    pid_t pid() const { return pid_; }
    const std::string& output() const { return output_; }

    // Reads what the program writes until `done` holds (checked after every
    // read and every 10 ms), the terminal closes, or the time runs out.
    bool readUntil(const std::function<bool()>& done) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 10) < 0) return false;
            if ((p.revents & (POLLIN | POLLHUP)) != 0) {
                char buffer[4096];
                const ssize_t n = ::read(master_, buffer, sizeof buffer);
                if (n <= 0) return done();  // the terminal's last user is gone
                output_.append(buffer, static_cast<std::size_t>(n));
            }
        }
        return true;
    }

    // True while the terminal is in its ordinary line mode with echo.
    bool lineMode() const {
        struct termios t {};
        return ::tcgetattr(master_, &t) == 0 && (t.c_lflag & ICANON) != 0 &&
               (t.c_lflag & ECHO) != 0;
    }
    // True while the terminal gives single keys without echo.
    bool keyMode() const {
        struct termios t {};
        return ::tcgetattr(master_, &t) == 0 && (t.c_lflag & (ICANON | ECHO)) == 0;
    }

    bool type(const std::string& keys) {
        return ::write(master_, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
    }

    // Reads to the end and waits for the program; kills it when the time
    // runs out. Returns the wait status, or -1 after a kill.
    int finish() {
        readUntil([] { return false; });
        reaped_ = true;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return status;
    }

private:
    static std::vector<char*> cStrings(std::vector<std::string>& strings) {
        std::vector<char*> out;
        for (std::string& s : strings) out.push_back(s.data());
        out.push_back(nullptr);
        return out;
    }

    int timeoutMs_;
    int master_ = -1;
    pid_t pid_ = -1;
    bool reaped_ = false;
    std::string output_;
};

}  // namespace testing_support
