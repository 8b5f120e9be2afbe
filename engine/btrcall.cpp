// The entry BTRCALL: checks the call's buffers and hands each operation to
// the open file its position block names.
#include "engine/btrcall.h"

#include <type_traits>

#include <algorithm>
#include <mutex>
#include <string>

#include "engine/api.h"
#include "engine/data_file.h"
#include "engine/front.h"
#include "engine/open_files.h"
#include "engine/sqlite/storage.h"

namespace engine {
namespace {

struct Call {
    std::uint16_t operation;
    unsigned char* position;
    unsigned char* data;
    std::uint32_t offered;   // bytes of the data buffer
    std::uint32_t returned;  // written back for the operations that return data
    bool returnsData;
    unsigned char* key;
    int keyNumber;
};

std::mutex& callMutex() {
    static std::mutex m;
    return m;
}

OpenFileTable& openFiles() {
    static OpenFileTable table;
    return table;
}

Storage*& selectedStorage() {
    static Storage* selected = &sqlite::storage();
    return selected;
}

// The path in the key buffer: up to its first zero byte, at most maxPathLength bytes.
std::string pathFrom(const unsigned char* key) {
    const unsigned char* end = std::find(key, key + maxPathLength, 0);
    return std::string(reinterpret_cast<const char*>(key), static_cast<std::size_t>(end - key));
}

std::int16_t openFile(Call& c) {
    if (c.key == nullptr) return status::keyBufferMissing;
    if (c.position == nullptr) return status::fileNotOpen;
    OpenMode mode = OpenMode::Normal;
    switch (c.keyNumber) {
        case openmode::normal:
        case openmode::accelerated:
        case openmode::verify:
            break;
        case openmode::readOnly:
            mode = OpenMode::ReadOnly;
            break;
        case openmode::exclusive:
            mode = OpenMode::Exclusive;
            break;
        default:
            return status::invalidKeyNumber;
    }
    std::unique_ptr<DataFile> file;
    if (const std::int16_t st = DataFile::open(currentStorage(), pathFrom(c.key), mode, file);
        st != status::ok) {
        return st;
    }
    return openFiles().add(std::move(file), c.position);
}

std::int16_t createFile(Call& c) {
    if (c.key == nullptr) return status::keyBufferMissing;
    FileDescription description;
    if (const std::int16_t st = parseDescription(c.data, c.offered, description);
        st != status::ok) {
        return st;
    }
    return currentStorage().create(pathFrom(c.key), description,
                                   c.keyNumber != createKeepExisting);
}

std::int16_t getRecord(Call& c, DataFile& file, GetOp op) {
    c.returnsData = true;
    if (c.key == nullptr) return status::keyBufferMissing;
    return file.get(op, c.keyNumber, c.key, c.data, c.offered, c.returned, c.key);
}

std::int16_t dispatch(Call& c) {
    switch (c.operation) {
        case op::open:
            return openFile(c);
        case op::create:
            return createFile(c);
        case op::reset:
            openFiles().closeAll();
            return status::ok;
        case op::close:
            return openFiles().close(c.position) ? status::ok : status::fileNotOpen;
        case op::insert:
        case op::update:
        case op::remove:
        case op::getEqual:
        case op::getNext:
        case op::getPrevious:
        case op::getGreater:
        case op::getGreaterOrEqual:
        case op::getLess:
        case op::getLessOrEqual:
        case op::getFirst:
        case op::getLast:
        case op::stat:
            break;
        default:
            return status::invalidOperation;
    }
    DataFile* file = openFiles().find(c.position);
    if (file == nullptr) return status::fileNotOpen;
    switch (c.operation) {
        case op::insert:
        case op::update:
            if (c.key == nullptr) return status::keyBufferMissing;
            return c.operation == op::insert
                       ? file->insert(c.data, c.offered, c.keyNumber, c.key)
                       : file->update(c.data, c.offered, c.keyNumber, c.key);
        case op::remove:
            return file->remove();
        case op::getEqual:
            return getRecord(c, *file, GetOp::Equal);
        case op::getNext:
            return getRecord(c, *file, GetOp::Next);
        case op::getPrevious:
            return getRecord(c, *file, GetOp::Previous);
        case op::getGreater:
            return getRecord(c, *file, GetOp::Greater);
        case op::getGreaterOrEqual:
            return getRecord(c, *file, GetOp::GreaterOrEqual);
        case op::getLess:
            return getRecord(c, *file, GetOp::Less);
        case op::getLessOrEqual:
            return getRecord(c, *file, GetOp::LessOrEqual);
        case op::getFirst:
            return getRecord(c, *file, GetOp::First);
        case op::getLast:
            return getRecord(c, *file, GetOp::Last);
        case op::stat:
            c.returnsData = true;
            return file->stat(c.data, c.offered, c.returned);
        default:
            return status::invalidOperation;
    }
}

}  // namespace

void setStorage(Storage& storage) {
    std::lock_guard<std::mutex> guard(callMutex());
    selectedStorage() = &storage;
}

Storage& currentStorage() { return *selectedStorage(); }

// The entry below is the contract's Entry, convention included.
static_assert(std::is_same_v<decltype(&BTRCALL), Entry>);

}  // namespace engine

extern "C" NUBO_BTRCALL_EXPORT int NUBO_BTRCALL_CONV
BTRCALL(uint16_t operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
        void* keyBuffer, uint8_t keyLength, int8_t keyNumber) {
    // The key length is not needed: a key's length comes from the file, a
    // path ends at its zero byte.
    (void)keyLength;
    engine::Call call{operation,
                      static_cast<unsigned char*>(positionBlock),
                      static_cast<unsigned char*>(dataBuffer),
                      (dataBuffer != nullptr && dataLength != nullptr) ? *dataLength : 0,
                      0,
                      false,
                      static_cast<unsigned char*>(keyBuffer),
                      keyNumber};
    std::lock_guard<std::mutex> guard(engine::callMutex());
    const int16_t st = engine::dispatch(call);
    if (call.returnsData && dataLength != nullptr) *dataLength = call.returned;
    return st;
}
