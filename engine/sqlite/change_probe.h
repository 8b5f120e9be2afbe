// Tells, without a read transaction, whether a data file may have changed.
//
// In write-ahead-log mode every SQLite connection to a file maps its
// wal-index, whose header every committed transaction rewrites (a commit
// counter, the last frame, the salts; the documented wal-index format). A
// copy of that header taken before a read and compared later shows whether
// any connection, in any process, committed in between. The header is read
// the way SQLite's readers read it: its two copies, the first before the
// second; a writer writes them in the other order, so two equal copies are a
// whole header.
#pragma once

#include <sqlite3.h>

#include <array>
#include <cstdint>

namespace engine::sqlite {

class ChangeProbe {
public:
    using Header = std::array<std::uint32_t, 12>;

    // Finds the wal-index of the connection's main database. Call it after
    // a read, when the connection has mapped it. Leaves the probe unattached
    // (and snapshot always false) when the file is not in WAL mode.
    void attach(sqlite3* db);

    // Copies the current header; false when there is none or a writer is
    // rewriting it at this moment.
    bool snapshot(Header& out) const;

    // The header's commit counter: every committed transaction, of any
    // connection, adds one; folding the log back changes other words only.
    static std::uint32_t commits(const Header& h) { return h[2]; }

private:
    const volatile unsigned char* index_ = nullptr;
};

}  // namespace engine::sqlite
