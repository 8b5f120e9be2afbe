#include "engine/sqlite/change_probe.h"

#include <atomic>
#include <cstring>

namespace engine::sqlite {
namespace {

constexpr int walIndexRegionSize = 32768;
constexpr std::size_t headerWords = 12;  // 48 bytes
constexpr std::uint32_t walIndexVersion = 3007000;

std::uint32_t loadWord(const volatile unsigned char* base, std::size_t word) {
    return reinterpret_cast<const volatile std::uint32_t*>(base)[word];
}

}  // namespace

void ChangeProbe::attach(sqlite3* db) {
    index_ = nullptr;
    sqlite3_stmt* stmt = nullptr;
    bool wal = false;
    if (sqlite3_prepare_v2(db, "PRAGMA main.journal_mode", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
        const auto* mode = sqlite3_column_text(stmt, 0);
        wal = mode != nullptr && std::strcmp(reinterpret_cast<const char*>(mode), "wal") == 0;
    }
    sqlite3_finalize(stmt);
    if (!wal) return;
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK ||
        file == nullptr || file->pMethods == nullptr || file->pMethods->iVersion < 2 ||
        file->pMethods->xShmMap == nullptr) {
        return;
    }
    void volatile* region = nullptr;
    if (file->pMethods->xShmMap(file, 0, walIndexRegionSize, 0, &region) == SQLITE_OK &&
        region != nullptr) {
        index_ = static_cast<const volatile unsigned char*>(region);
    }
}

bool ChangeProbe::snapshot(Header& out) const {
    if (index_ == nullptr) return false;
    Header second;
    for (std::size_t i = 0; i < headerWords; ++i) out[i] = loadWord(index_, i);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    for (std::size_t i = 0; i < headerWords; ++i) second[i] = loadWord(index_, headerWords + i);
    // Word 0 is the version; byte 12 is the "initialised" flag.
    unsigned char initialised = 0;
    std::memcpy(&initialised, reinterpret_cast<const unsigned char*>(out.data()) + 12, 1);
    return out == second && out[0] == walIndexVersion && initialised == 1;
}

}  // namespace engine::sqlite
