// The entry BTRCALL: checks the call's buffers and hands each operation to
// the open file its position block names.
#include "engine/btrcall.h"

#include <algorithm>
#include <mutex>
#include <string>

#include "engine/create_file.h"
#include "engine/data_file.h"
#include "engine/open_files.h"
#include "engine/status.h"

namespace engine {
namespace {

enum Operation : std::uint16_t {
    opOpen = 0,
    opClose = 1,
    opInsert = 2,
    opUpdate = 3,
    opDelete = 4,
    opGetEqual = 5,
    opGetNext = 6,
    opGetPrevious = 7,
    opGetGreater = 8,
    opGetGreaterOrEqual = 9,
    opGetLess = 10,
    opGetLessOrEqual = 11,
    opGetFirst = 12,
    opGetLast = 13,
    opCreate = 14,
    opStat = 15,
    opReset = 28,
};

// Open modes, given as the key number.
constexpr int modeNormal = 0;
constexpr int modeAccelerated = -1;
constexpr int modeReadOnly = -2;
constexpr int modeVerify = -3;
constexpr int modeExclusive = -4;
// Create: this key number keeps an existing file.
constexpr int createKeepExisting = -1;

// A path is at most 255 characters; the key buffer offers at least that.
constexpr std::size_t maxPathLength = 255;

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

// The path in the key buffer: up to its first zero byte, at most 255 bytes.
std::string pathFrom(const unsigned char* key) {
    const unsigned char* end = std::find(key, key + maxPathLength, 0);
    return std::string(reinterpret_cast<const char*>(key), static_cast<std::size_t>(end - key));
}

std::int16_t openFile(Call& c) {
    if (c.key == nullptr) return status::keyBufferMissing;
    if (c.position == nullptr) return status::fileNotOpen;
    OpenMode mode = OpenMode::Normal;
    switch (c.keyNumber) {
        case modeNormal:
        case modeAccelerated:
        case modeVerify:
            break;
        case modeReadOnly:
            mode = OpenMode::ReadOnly;
            break;
        case modeExclusive:
            mode = OpenMode::Exclusive;
            break;
        default:
            return status::invalidKeyNumber;
    }
    std::unique_ptr<DataFile> file;
    if (const std::int16_t st = DataFile::open(pathFrom(c.key), mode, file); st != status::ok) {
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
    return createDataFile(pathFrom(c.key), description, c.keyNumber != createKeepExisting);
}

std::int16_t getRecord(Call& c, DataFile& file, GetOp op) {
    c.returnsData = true;
    if (c.key == nullptr) return status::keyBufferMissing;
    return file.get(op, c.keyNumber, c.key, c.data, c.offered, c.returned, c.key);
}

std::int16_t dispatch(Call& c) {
    switch (c.operation) {
        case opOpen:
            return openFile(c);
        case opCreate:
            return createFile(c);
        case opReset:
            openFiles().closeAll();
            return status::ok;
        case opClose:
            return openFiles().close(c.position) ? status::ok : status::fileNotOpen;
        case opInsert:
        case opUpdate:
        case opDelete:
        case opGetEqual:
        case opGetNext:
        case opGetPrevious:
        case opGetGreater:
        case opGetGreaterOrEqual:
        case opGetLess:
        case opGetLessOrEqual:
        case opGetFirst:
        case opGetLast:
        case opStat:
            break;
        default:
            return status::invalidOperation;
    }
    DataFile* file = openFiles().find(c.position);
    if (file == nullptr) return status::fileNotOpen;
    switch (c.operation) {
        case opInsert:
        case opUpdate:
            if (c.key == nullptr) return status::keyBufferMissing;
            return c.operation == opInsert ? file->insert(c.data, c.offered, c.keyNumber, c.key)
                                           : file->update(c.data, c.offered, c.keyNumber, c.key);
        case opDelete:
            return file->remove();
        case opGetEqual:
            return getRecord(c, *file, GetOp::Equal);
        case opGetNext:
            return getRecord(c, *file, GetOp::Next);
        case opGetPrevious:
            return getRecord(c, *file, GetOp::Previous);
        case opGetGreater:
            return getRecord(c, *file, GetOp::Greater);
        case opGetGreaterOrEqual:
            return getRecord(c, *file, GetOp::GreaterOrEqual);
        case opGetLess:
            return getRecord(c, *file, GetOp::Less);
        case opGetLessOrEqual:
            return getRecord(c, *file, GetOp::LessOrEqual);
        case opGetFirst:
            return getRecord(c, *file, GetOp::First);
        case opGetLast:
            return getRecord(c, *file, GetOp::Last);
        case opStat:
            c.returnsData = true;
            return file->stat(c.data, c.offered, c.returned);
        default:
            return status::invalidOperation;
    }
}

}  // namespace
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
