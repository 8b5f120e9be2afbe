// The entry BTRCALL: checks the call's buffers and hands each operation to
// the open file its position block names.
#include "engine/btrcall.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "engine/create_file.h"
#include "engine/data_file.h"
#include "engine/open_files.h"
#include "engine/status.h"
#include "platform/coding.h"

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
    opBeginTransaction = 19,
    opEndTransaction = 20,
    opAbortTransaction = 21,
    opGetPosition = 22,
    opGetDirect = 23,
    opStepNext = 24,
    opStop = 25,
    opVersion = 26,
    opUnlock = 27,
    opReset = 28,
    opStepFirst = 33,
    opStepLast = 34,
    opStepPrevious = 35,
};

// Biases added to an operation code.
constexpr std::uint16_t getKeyBias = 50;         // a Get that returns only the key
constexpr std::uint16_t concurrentBias = 1000;   // Begin: a concurrent transaction
constexpr std::uint16_t singleWaitBias = 100;    // record locks, on reads
constexpr std::uint16_t singleNoWaitBias = 200;
constexpr std::uint16_t multipleWaitBias = 300;
constexpr std::uint16_t multipleNoWaitBias = 400;

// Open modes, given as the key number.
constexpr int modeNormal = 0;
constexpr int modeAccelerated = -1;
constexpr int modeReadOnly = -2;
constexpr int modeVerify = -3;
constexpr int modeExclusive = -4;
// Create: only this key number replaces an existing file.
constexpr int createReplaceExisting = 0;
// Stat: this key number adds the file version.
constexpr int statWithVersion = -1;
// Unlock: the key number says which locks go.
constexpr int unlockOneMultiple = -1;
constexpr int unlockAllMultiple = -2;

// Version: the engine's version, revision and platform letter.
constexpr std::uint16_t engineVersion = 7;
constexpr std::uint16_t engineRevision = 0;
constexpr unsigned char enginePlatform = 'W';
constexpr std::uint32_t versionAnswerSize = 5;

// A record's physical address: 4 bytes, the more significant 16-bit word
// first, each word little-endian.
constexpr std::uint32_t addressSize = 4;
void putAddress(unsigned char* p, std::uint32_t address) {
    coding::putU16(p, static_cast<std::uint16_t>(address >> 16));
    coding::putU16(p + 2, static_cast<std::uint16_t>(address & 0xFFFF));
}
std::uint32_t getAddress(const unsigned char* p) {
    return (static_cast<std::uint32_t>(coding::getU16(p)) << 16) | coding::getU16(p + 2);
}

// A path is at most 255 characters; the key buffer offers at least that.
constexpr std::size_t maxPathLength = 255;

struct Call {
    std::uint16_t operation;  // without its biases
    LockRequest lock;
    bool keyOnly;
    bool concurrent;
    unsigned char* position;
    unsigned char* data;
    std::uint32_t offered;   // bytes of the data buffer
    std::uint32_t returned;  // written back for the operations that return data
    bool returnsData;
    unsigned char* key;
    std::uint8_t keyLength;
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

// Files closed while a transaction was active: their connections hold the
// transaction's work on them until it ends.
std::vector<std::unique_ptr<DataFile>>& closedInTransaction() {
    static std::vector<std::unique_ptr<DataFile>> files;
    return files;
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
    return createDataFile(pathFrom(c.key), description, c.keyNumber == createReplaceExisting);
}

// Ends the process's transaction on every file in it: committed or rolled
// back. Explicit record locks end with it.
std::int16_t endTransaction(bool commit) {
    ProcessTransaction& t = processTransaction();
    t.active = false;
    std::int16_t result = status::ok;
    const std::vector<DataFile*> files = std::move(t.files);
    t.files.clear();
    for (DataFile* f : files) {
        if (commit && result == status::ok) {
            result = f->commit();
        } else {
            f->rollback();
        }
    }
    openFiles().forEach([](DataFile& f) { f.unlockAll(); });
    closedInTransaction().clear();
    return result;
}

std::int16_t beginTransaction() {
    ProcessTransaction& t = processTransaction();
    if (t.active) return status::transactionActive;
    t.active = true;
    return status::ok;
}

void resetAll() {
    if (processTransaction().active) endTransaction(false);
    openFiles().closeAll();
}

std::int16_t closeFile(Call& c) {
    std::unique_ptr<DataFile> file = openFiles().detach(c.position);
    if (!file) return status::fileNotOpen;
    file->unlockAll();
    if (file->inTransaction()) closedInTransaction().push_back(std::move(file));
    return status::ok;
}

std::int16_t version(Call& c) {
    c.returnsData = true;
    if (c.data == nullptr || c.offered < versionAnswerSize) return status::dataBufferTooShort;
    coding::putU16(c.data, engineVersion);
    coding::putU16(c.data + 2, engineRevision);
    c.data[4] = enginePlatform;
    c.returned = versionAnswerSize;
    return status::ok;
}

ReadBuffers readBuffers(const Call& c) {
    ReadBuffers io;
    io.data = c.data;
    io.offered = c.data != nullptr ? c.offered : 0;
    io.key = c.key;
    io.keyLength = c.keyLength;
    io.keyOnly = c.keyOnly;
    return io;
}

std::int16_t getRecord(Call& c, DataFile& file, GetOp op) {
    c.returnsData = !c.keyOnly;
    if (c.key == nullptr) return status::keyBufferMissing;
    ReadBuffers io = readBuffers(c);
    const std::int16_t st = file.get(op, c.keyNumber, c.key, io, c.lock);
    c.returned = io.returned;
    return st;
}

std::int16_t stepRecord(Call& c, DataFile& file, StepOp op) {
    c.returnsData = true;
    ReadBuffers io = readBuffers(c);
    const std::int16_t st = file.step(op, io, c.lock);
    c.returned = io.returned;
    return st;
}

std::int16_t getPosition(Call& c, DataFile& file) {
    c.returnsData = true;
    if (c.data == nullptr || c.offered < addressSize) return status::dataBufferTooShort;
    std::uint32_t address = 0;
    if (const std::int16_t st = file.getPosition(address); st != status::ok) return st;
    putAddress(c.data, address);
    c.returned = addressSize;
    return status::ok;
}

std::int16_t getDirect(Call& c, DataFile& file) {
    c.returnsData = true;
    if (c.data == nullptr || c.offered < addressSize) return status::dataBufferTooShort;
    if (c.key == nullptr) return status::keyBufferMissing;
    ReadBuffers io = readBuffers(c);
    io.keyOnly = false;
    const std::int16_t st = file.getDirect(getAddress(c.data), c.keyNumber, io, c.lock);
    c.returned = io.returned;
    return st;
}

std::int16_t unlock(Call& c, DataFile& file) {
    if (c.keyNumber >= 0) return file.unlock(DataFile::UnlockWhat::Single);
    if (c.keyNumber == unlockAllMultiple) return file.unlock(DataFile::UnlockWhat::AllMultiple);
    if (c.keyNumber != unlockOneMultiple) return status::invalidKeyNumber;
    if (c.data == nullptr || c.offered < addressSize) return status::dataBufferTooShort;
    return file.unlock(DataFile::UnlockWhat::OneMultiple, getAddress(c.data));
}

bool isRead(std::uint16_t operation) {
    return (operation >= opGetEqual && operation <= opGetLast) || operation == opGetDirect ||
           operation == opStepNext || (operation >= opStepFirst && operation <= opStepPrevious);
}

// Splits an operation code into the operation and its biases; false when
// the code is no operation of the engine (a bias where none is allowed).
bool decode(std::uint16_t code, Call& c) {
    c.concurrent = code >= concurrentBias && code < 2 * concurrentBias;
    if (code >= 2 * concurrentBias) return false;
    std::uint16_t rest = static_cast<std::uint16_t>(code % concurrentBias);
    const std::uint16_t lockBias = static_cast<std::uint16_t>(rest - rest % 100);
    rest = static_cast<std::uint16_t>(rest % 100);
    c.keyOnly = rest >= opGetEqual + getKeyBias && rest <= opGetLast + getKeyBias;
    if (c.keyOnly) rest = static_cast<std::uint16_t>(rest - getKeyBias);
    c.operation = rest;
    if (c.concurrent && rest != opBeginTransaction) return false;
    switch (lockBias) {
        case 0:
            break;
        case singleWaitBias:
            c.lock = {LockKind::Single, true};
            break;
        case singleNoWaitBias:
            c.lock = {LockKind::Single, false};
            break;
        case multipleWaitBias:
            c.lock = {LockKind::Multiple, true};
            break;
        case multipleNoWaitBias:
            c.lock = {LockKind::Multiple, false};
            break;
        default:
            return false;
    }
    // A Begin with a lock bias sets the locks of reads in the transaction;
    // the engine's transactions hold the file's write lock instead.
    if (lockBias != 0 && !isRead(rest) && rest != opBeginTransaction) return false;
    if (c.keyOnly && lockBias != 0) return false;
    return true;
}

std::int16_t dispatch(Call& c) {
    switch (c.operation) {
        case opOpen:
            return openFile(c);
        case opCreate:
            return createFile(c);
        case opReset:
        case opStop:
            resetAll();
            return status::ok;
        case opVersion:
            return version(c);
        case opBeginTransaction:
            return beginTransaction();
        case opEndTransaction:
        case opAbortTransaction:
            if (!processTransaction().active) return status::noTransaction;
            return endTransaction(c.operation == opEndTransaction);
        case opClose:
            return closeFile(c);
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
        case opGetPosition:
        case opGetDirect:
        case opStepNext:
        case opStepFirst:
        case opStepLast:
        case opStepPrevious:
        case opUnlock:
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
            if (c.data == nullptr) return status::dataBufferTooShort;
            return c.operation == opInsert
                       ? file->insert(c.data, c.offered, c.keyNumber, c.key, c.keyLength)
                       : file->update(c.data, c.offered, c.keyNumber, c.key, c.keyLength);
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
        case opGetPosition:
            return getPosition(c, *file);
        case opGetDirect:
            return getDirect(c, *file);
        case opStepFirst:
            return stepRecord(c, *file, StepOp::First);
        case opStepLast:
            return stepRecord(c, *file, StepOp::Last);
        case opStepNext:
            return stepRecord(c, *file, StepOp::Next);
        case opStepPrevious:
            return stepRecord(c, *file, StepOp::Previous);
        case opUnlock:
            return unlock(c, *file);
        case opStat:
            c.returnsData = true;
            if (c.data == nullptr) return status::dataBufferTooShort;
            return file->stat(c.data, c.offered, c.returned, c.keyNumber == statWithVersion);
        default:
            return status::invalidOperation;
    }
}

}  // namespace
}  // namespace engine

extern "C" NUBO_BTRCALL_EXPORT int16_t NUBO_BTRCALL_CONV
BTRCALL(uint16_t operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
        void* keyBuffer, uint8_t keyLength, int8_t keyNumber) {
    // The key length bounds what is read from and written to the key buffer
    // by the operations on keys; a path ends at its zero byte.
    engine::Call call{};
    call.position = static_cast<unsigned char*>(positionBlock);
    call.data = static_cast<unsigned char*>(dataBuffer);
    call.offered = (dataBuffer != nullptr && dataLength != nullptr) ? *dataLength : 0;
    call.key = static_cast<unsigned char*>(keyBuffer);
    call.keyLength = keyLength;
    call.keyNumber = keyNumber;
    if (!engine::decode(operation, call)) return engine::status::invalidOperation;
    std::lock_guard<std::mutex> guard(engine::callMutex());
    const int16_t st = engine::dispatch(call);
    if (call.returnsData && dataLength != nullptr) *dataLength = call.returned;
    return st;
}
