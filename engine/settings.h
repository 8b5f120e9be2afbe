// The engine's settings, read once from the environment at the first call.
//
//   NUBO_ENGINE_SYNC     "FULL": every Insert, Update and Delete is flushed to
//                        stable storage before it returns (survives power
//                        loss, not only a crash of the process); anything
//                        else: flushed at checkpoints (SQLite's NORMAL level)
//   NUBO_ENGINE_BUSY_MS  how long a call waits for another process's lock
//                        before it gives status 85, in milliseconds
//                        (0..60000; default 5000)
#pragma once

#include <cstdint>

namespace engine {

struct Settings {
    bool fullSync = false;
    std::uint32_t busyMilliseconds = 5000;
};

const Settings& settings();

}  // namespace engine
