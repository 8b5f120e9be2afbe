// The process's table of open data files and the position blocks that name
// its entries.
//
// A position block (the caller's 128 bytes, filled by Open) holds:
//   0-3    "NuDF"
//   4-7    index of the entry in the table
//   8-11   generation of the entry (changes whenever the entry is reused)
//   12-19  a token drawn once per process
//   20-127 zero
// A block whose fields do not name a live entry (never opened, closed,
// reset, garbage, from another process) is refused, never followed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/api.h"
#include "engine/data_file.h"

namespace engine {

inline constexpr std::size_t maxOpenFiles = 4096;

class OpenFileTable {
public:
    OpenFileTable();

    // Enters `file` and fills `positionBlock`. Status 86 when the table is full.
    std::int16_t add(std::unique_ptr<DataFile> file, unsigned char* positionBlock);

    // The open file the block names, or nullptr.
    DataFile* find(const unsigned char* positionBlock) const;

    // Closes the file the block names; false when it names none.
    bool close(const unsigned char* positionBlock);

    // Takes the file the block names out of the table without closing it
    // (nullptr when it names none): the block no longer names it.
    std::unique_ptr<DataFile> detach(const unsigned char* positionBlock);

    // Calls f(DataFile&) for every open file.
    template <typename F>
    void forEach(F f) {
        for (std::size_t i = 0; i < used_; ++i) {
            if (entries_[i].file) f(*entries_[i].file);
        }
    }

    // Closes every file.
    void closeAll();

private:
    struct Entry {
        std::unique_ptr<DataFile> file;
        std::uint32_t generation = 0;
    };
    std::size_t indexOf(const unsigned char* positionBlock) const;  // or maxOpenFiles

    std::unique_ptr<Entry[]> entries_;
    std::size_t used_ = 0;  // entries ever handed out; later ones are untouched
    std::uint64_t token_ = 0;
};

}  // namespace engine
