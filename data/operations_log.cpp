// The operations log "db.log": one line per insertion, appended.
#include <string>

#include "data/data.h"
#include "data/internal.h"
#include "platform/platform.h"

namespace {

constexpr char kLogName[] = "db.log";
constexpr int kColumnWidth = 14;

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
    // One open, write and close per line: other programs may rename or read
    // the log between two lines. Only a log held by another process is
    // waited for; any other failure gives the line up at once.
    for (int pauses = 0;; ++pauses) {
        const platform::AppendResult result =
            platform::appendWhole(kLogName, line.data(), line.size());
        if (result != platform::AppendResult::Held || pauses == kLogHeldPauses) return;
        pauseMilliseconds(kLogRetryPauseMs);
    }
}
