#include "engine/open_files.h"

#include <algorithm>
#include <chrono>
#include <random>

#include "engine/api.h"
#include "platform/coding.h"

namespace engine {
namespace {

constexpr unsigned char magic[4] = {'N', 'u', 'D', 'F'};
constexpr std::size_t indexField = 4;
constexpr std::size_t generationField = 8;
constexpr std::size_t tokenField = 12;

}  // namespace

OpenFileTable::OpenFileTable() : entries_(new Entry[maxOpenFiles]) {
    std::random_device device;
    token_ =
        (static_cast<std::uint64_t>(device()) << 32) ^ device() ^
        static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
}

std::int16_t OpenFileTable::add(std::unique_ptr<DataFile> file, unsigned char* positionBlock) {
    std::size_t index = 0;
    while (index < used_ && entries_[index].file) ++index;
    if (index == maxOpenFiles) return status::fileTableFull;
    if (index == used_) ++used_;
    Entry& entry = entries_[index];
    entry.file = std::move(file);
    ++entry.generation;
    std::fill(positionBlock, positionBlock + positionBlockSize, 0);
    std::copy(std::begin(magic), std::end(magic), positionBlock);
    coding::putU32(positionBlock + indexField, static_cast<std::uint32_t>(index));
    coding::putU32(positionBlock + generationField, entry.generation);
    coding::putU64(positionBlock + tokenField, token_);
    return status::ok;
}

std::size_t OpenFileTable::indexOf(const unsigned char* positionBlock) const {
    if (positionBlock == nullptr ||
        !std::equal(std::begin(magic), std::end(magic), positionBlock) ||
        coding::getU64(positionBlock + tokenField) != token_) {
        return maxOpenFiles;
    }
    const std::uint32_t index = coding::getU32(positionBlock + indexField);
    if (index >= used_ || !entries_[index].file ||
        entries_[index].generation != coding::getU32(positionBlock + generationField)) {
        return maxOpenFiles;
    }
    return index;
}

DataFile* OpenFileTable::find(const unsigned char* positionBlock) const {
    const std::size_t index = indexOf(positionBlock);
    return index == maxOpenFiles ? nullptr : entries_[index].file.get();
}

bool OpenFileTable::close(const unsigned char* positionBlock) {
    const std::size_t index = indexOf(positionBlock);
    if (index == maxOpenFiles) return false;
    entries_[index].file.reset();
    return true;
}

std::unique_ptr<DataFile> OpenFileTable::detach(const unsigned char* positionBlock) {
    const std::size_t index = indexOf(positionBlock);
    if (index == maxOpenFiles) return nullptr;
    return std::move(entries_[index].file);
}

void OpenFileTable::closeAll() {
    for (std::size_t i = 0; i < used_; ++i) entries_[i].file.reset();
}

}  // namespace engine
