#include "platform/socket_wait.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace {

std::int64_t monotonicMilliseconds() {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

SocketWait waitForSocket(int socket, bool forWrite, std::uint32_t milliseconds) {
    if (socket < 0) return SocketWait::Failed;
    const std::int64_t deadline = monotonicMilliseconds() + milliseconds;
    for (;;) {
        const std::int64_t left = deadline - monotonicMilliseconds();
        if (left < 0) return SocketWait::TimedOut;
        struct pollfd fd {};
        fd.fd = socket;
        fd.events = forWrite ? POLLOUT : POLLIN;
        const int n = ::poll(&fd, 1, static_cast<int>(left));
        if (n > 0) {
            return (fd.revents & POLLNVAL) != 0 ? SocketWait::Failed : SocketWait::Ready;
        }
        if (n == 0) return SocketWait::TimedOut;
        if (errno != EINTR) return SocketWait::Failed;
    }
}

int processId() {
    return static_cast<int>(::getpid());
}

}  // namespace platform
