// The operations log "db.log": one line per insertion, appended.
#include <string>

#include "data/data.h"
#include "data/internal.h"
#include "platform/platform.h"

namespace {

constexpr char kLogName[] = "db.log";
constexpr int kColumnWidth = 14;
// While another process holds the log, the open is tried again this many
// times, this far apart: about a second in all.
constexpr int kLogOpenAttempts = 20;
constexpr std::uint32_t kLogRetryPauseMs = 50;

// A sign position, the digits, one blank.
void putNumber(std::string& line, std::int16_t value) {
    const std::int32_t v = value;
    line += v < 0 ? '-' : ' ';
    line += std::to_string(v < 0 ? -v : v);
    line += ' ';
}

// Blanks up to the next multiple of 14 columns; a full zone gets 14 more.
void padToNextColumn(std::string& line) {
    line.append(kColumnWidth - line.size() % kColumnWidth, ' ');
}

}  // namespace

std::string operationsLogLine(std::int16_t fileNumber, std::int16_t operation,
                              std::int16_t status) {
    std::string line;
    putNumber(line, fileNumber);
    padToNextColumn(line);
    putNumber(line, operation);
    padToNextColumn(line);
    putNumber(line, status);
    line += "\r\n";
    return line;
}

void appendOperationsLog(std::int16_t fileNumber, std::int16_t operation, std::int16_t status) {
    const std::string line = operationsLogLine(fileNumber, operation, status);
    platform::File file;
    for (int attempt = 1; !platform::openFile(kLogName, platform::FileMode::AppendExclusive, file);
         ++attempt) {
        if (attempt == kLogOpenAttempts) return;  // the insertion's own result stands
        pauseMilliseconds(kLogRetryPauseMs);
    }
    platform::writeFile(file, line.data(), line.size());
    platform::closeFile(file);
}
