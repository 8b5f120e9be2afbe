// Waiting for a socket that a library owns (the PostgreSQL client's), with a
// time limit, so a call on a network that stops answering ends.
//
// POSIX only: the server backend that needs it is not part of the Windows
// build.
#pragma once

#include <cstdint>

namespace platform {

enum class SocketWait {
    Ready,     // readable (or writable, when asked), or in error: the library tells which
    TimedOut,  // nothing within the time
    Failed,    // the socket cannot be waited for (closed, not a socket)
};

// Waits until `socket` can be read (`forWrite` false) or written (true), at
// most `milliseconds`. A signal does not end the wait early.
SocketWait waitForSocket(int socket, bool forWrite, std::uint32_t milliseconds);

// The process's id: a connection made before a fork belongs to the parent,
// and a child must neither use nor close it.
int processId();

}  // namespace platform
