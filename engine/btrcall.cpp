// The entry BTRCALL: checks the call's buffers and hands each operation to
// the open file its position block names.
#include "engine/btrcall.h"

#include <type_traits>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "engine/api.h"
#include "engine/data_file.h"
#include "engine/front.h"
#include "engine/open_files.h"
#include "engine/sqlite/storage.h"
#include "platform/coding.h"
#ifdef NUBO_ENGINE_POSTGRES
#include "engine/postgres/storage.h"
#endif

namespace engine {
namespace {

// Version: the engine's version, revision and platform letter.
constexpr std::uint16_t engineVersion = 7;
constexpr std::uint16_t engineRevision = 0;
constexpr unsigned char enginePlatform = 'W';

void putAddress(unsigned char* p, std::uint32_t address) {
    coding::putU16(p, static_cast<std::uint16_t>(address >> 16));
    coding::putU16(p + 2, static_cast<std::uint16_t>(address & 0xFFFF));
}
std::uint32_t getAddress(const unsigned char* p) {
    return (static_cast<std::uint32_t>(coding::getU16(p)) << 16) | coding::getU16(p + 2);
}

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

// By default every data file is an SQLite file at its path, unless a map
// file (engine/postgres/server_map.h) places it on a PostgreSQL server.
Storage& defaultStorage() {
#ifdef NUBO_ENGINE_POSTGRES
    return pg::mappedStorage(sqlite::storage());
#else
    return sqlite::storage();
#endif
}

Storage*& selectedStorage() {
    static Storage* selected = &defaultStorage();
    return selected;
}

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
// A path with no zero among the key buffer's 256 bytes is longer than any
// path may be: status 11 (invalid file name), and nothing is opened or
// created, rather than a shortened path that names another file.
std::int16_t pathFrom(const unsigned char* key, std::string& path) {
    const unsigned char* end = std::find(key, key + keyBufferSize, 0);
    if (end == key + keyBufferSize) return status::invalidFileName;
    path.assign(reinterpret_cast<const char*>(key), static_cast<std::size_t>(end - key));
    return status::ok;
}

std::int16_t openFile(Call& c) {
    if (c.key == nullptr) return status::keyBufferMissing;
    if (c.position == nullptr) return status::fileNotOpen;
    OpenMode mode = OpenMode::Normal;
    switch (c.keyNumber) {
        case openmode::normal:
        case openmode::accelerated:
        case openmode::verify: break;
        case openmode::readOnly: mode = OpenMode::ReadOnly; break;
        case openmode::exclusive: mode = OpenMode::Exclusive; break;
        default: return status::invalidKeyNumber;
    }
    std::string path;
    if (const std::int16_t st = pathFrom(c.key, path); st != status::ok) return st;
    std::unique_ptr<DataFile> file;
    if (const std::int16_t st = DataFile::open(currentStorage(), path, mode, file);
        st != status::ok) {
        return st;
    }
    return openFiles().add(std::move(file), c.position);
}

std::int16_t createFile(Call& c) {
    if (c.key == nullptr) return status::keyBufferMissing;
    std::string path;
    if (const std::int16_t st = pathFrom(c.key, path); st != status::ok) return st;
    FileDescription description;
    if (const std::int16_t st = parseDescription(c.data, c.offered, description);
        st != status::ok) {
        return st;
    }
    return currentStorage().create(path, description, c.keyNumber == createReplaceExisting);
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

std::int16_t stepRecord(Call& c, DataFile& file, Step op) {
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

std::int16_t getByPercentage(Call& c, DataFile& file) {
    c.returnsData = true;
    if (c.data == nullptr || c.offered < percentageBufferSize) return status::dataBufferTooShort;
    if (c.keyNumber != physicalPercentage && c.key == nullptr) return status::keyBufferMissing;
    ReadBuffers io = readBuffers(c);
    const std::int16_t st = file.getByPercentage(coding::getU16(c.data), c.keyNumber, io, c.lock);
    c.returned = io.returned;
    return st;
}

std::int16_t findPercentage(Call& c, DataFile& file) {
    c.returnsData = true;
    if (c.data == nullptr || c.offered < percentageBufferSize) return status::dataBufferTooShort;
    if (c.keyNumber != physicalPercentage && c.key == nullptr) return status::keyBufferMissing;
    std::uint16_t percentage = 0;
    const std::uint32_t address = c.keyNumber == physicalPercentage ? getAddress(c.data) : 0;
    if (const std::int16_t st =
            file.findPercentage(c.keyNumber, c.key, c.keyLength, address, percentage);
        st != status::ok) {
        return st;
    }
    coding::putU32(c.data, percentage);
    c.returned = percentageBufferSize;
    return status::ok;
}

std::int16_t getExtended(Call& c, DataFile& file, bool physical, bool forward) {
    c.returnsData = true;
    if (c.data == nullptr) return status::dataBufferTooShort;
    return file.getExtended(physical, forward, c.keyNumber, c.data, c.offered, c.returned);
}

std::int16_t unlock(Call& c, DataFile& file) {
    if (c.keyNumber >= 0) return file.unlock(DataFile::UnlockWhat::Single);
    if (c.keyNumber == unlockAllMultiple) return file.unlock(DataFile::UnlockWhat::AllMultiple);
    if (c.keyNumber != unlockOneMultiple) return status::invalidKeyNumber;
    if (c.data == nullptr || c.offered < addressSize) return status::dataBufferTooShort;
    return file.unlock(DataFile::UnlockWhat::OneMultiple, getAddress(c.data));
}

bool isRead(std::uint16_t operation) {
    return (operation >= op::getEqual && operation <= op::getLast) || operation == op::getDirect ||
           operation == op::getByPercentage || operation == op::stepNext ||
           (operation >= op::stepFirst && operation <= op::stepPrevious);
}

// Splits an operation code into the operation and its biases; false when
// the code is no operation of the engine (a bias where none is allowed).
bool decode(std::uint16_t code, Call& c) {
    c.concurrent = code >= op::concurrentBias && code < 2 * op::concurrentBias;
    if (code >= 2 * op::concurrentBias) return false;
    std::uint16_t rest = static_cast<std::uint16_t>(code % op::concurrentBias);
    const std::uint16_t lockBias = static_cast<std::uint16_t>(rest - rest % 100);
    rest = static_cast<std::uint16_t>(rest % 100);
    c.keyOnly = rest >= op::getEqual + op::getKeyBias && rest <= op::getLast + op::getKeyBias;
    if (c.keyOnly) rest = static_cast<std::uint16_t>(rest - op::getKeyBias);
    c.operation = rest;
    if (c.concurrent && rest != op::beginTransaction) return false;
    switch (lockBias) {
        case 0: break;
        case op::singleWaitLockBias: c.lock = {LockKind::Single, true}; break;
        case op::singleNoWaitLockBias: c.lock = {LockKind::Single, false}; break;
        case op::multipleWaitLockBias: c.lock = {LockKind::Multiple, true}; break;
        case op::multipleNoWaitLockBias: c.lock = {LockKind::Multiple, false}; break;
        default: return false;
    }
    // A Begin with a lock bias sets the locks of reads in the transaction;
    // the engine's transactions hold the file's write lock instead.
    if (lockBias != 0 && !isRead(rest) && rest != op::beginTransaction) return false;
    if (c.keyOnly && lockBias != 0) return false;
    return true;
}

std::int16_t dispatch(Call& c) {
    switch (c.operation) {
        case op::open: return openFile(c);
        case op::create: return createFile(c);
        case op::reset:
        case op::stop: resetAll(); return status::ok;
        case op::version: return version(c);
        case op::beginTransaction: return beginTransaction();
        case op::endTransaction:
        case op::abortTransaction:
            if (!processTransaction().active) return status::noTransaction;
            return endTransaction(c.operation == op::endTransaction);
        case op::close: return closeFile(c);
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
        case op::getPosition:
        case op::getDirect:
        case op::stepNext:
        case op::stepFirst:
        case op::stepLast:
        case op::stepPrevious:
        case op::getByPercentage:
        case op::findPercentage:
        case op::getNextExtended:
        case op::getPreviousExtended:
        case op::stepNextExtended:
        case op::stepPreviousExtended:
        case op::insertExtended:
        case op::createIndex:
        case op::dropIndex:
        case op::unlock: break;
        default: return status::invalidOperation;
    }
    DataFile* file = openFiles().find(c.position);
    if (file == nullptr) return status::fileNotOpen;
    switch (c.operation) {
        case op::insert:
        case op::update:
            if (c.key == nullptr) return status::keyBufferMissing;
            if (c.data == nullptr) return status::dataBufferTooShort;
            return c.operation == op::insert
                       ? file->insert(c.data, c.offered, c.keyNumber, c.key, c.keyLength)
                       : file->update(c.data, c.offered, c.keyNumber, c.key, c.keyLength);
        case op::remove: return file->remove();
        case op::getEqual: return getRecord(c, *file, GetOp::Equal);
        case op::getNext: return getRecord(c, *file, GetOp::Next);
        case op::getPrevious: return getRecord(c, *file, GetOp::Previous);
        case op::getGreater: return getRecord(c, *file, GetOp::Greater);
        case op::getGreaterOrEqual: return getRecord(c, *file, GetOp::GreaterOrEqual);
        case op::getLess: return getRecord(c, *file, GetOp::Less);
        case op::getLessOrEqual: return getRecord(c, *file, GetOp::LessOrEqual);
        case op::getFirst: return getRecord(c, *file, GetOp::First);
        case op::getLast: return getRecord(c, *file, GetOp::Last);
        case op::getPosition: return getPosition(c, *file);
        case op::getDirect: return getDirect(c, *file);
        case op::stepFirst: return stepRecord(c, *file, Step::First);
        case op::stepLast: return stepRecord(c, *file, Step::Last);
        case op::stepNext: return stepRecord(c, *file, Step::Next);
        case op::stepPrevious: return stepRecord(c, *file, Step::Previous);
        case op::unlock: return unlock(c, *file);
        case op::createIndex:
            if (c.data == nullptr) return status::dataBufferTooShort;
            return file->createIndex(c.data, c.offered, c.keyNumber);
        case op::dropIndex: return file->dropIndex(c.keyNumber);
        case op::getByPercentage: return getByPercentage(c, *file);
        case op::findPercentage: return findPercentage(c, *file);
        case op::getNextExtended: return getExtended(c, *file, false, true);
        case op::getPreviousExtended: return getExtended(c, *file, false, false);
        case op::stepNextExtended: return getExtended(c, *file, true, true);
        case op::stepPreviousExtended: return getExtended(c, *file, true, false);
        case op::insertExtended:
            c.returnsData = true;
            if (c.key == nullptr) return status::keyBufferMissing;
            if (c.data == nullptr) return status::dataBufferTooShort;
            return file->insertExtended(c.data, c.offered, c.keyNumber, c.key, c.keyLength,
                                        c.returned);
        case op::stat:
            c.returnsData = true;
            if (c.data == nullptr) return status::dataBufferTooShort;
            return file->stat(c.data, c.offered, c.returned, c.keyNumber == statWithVersion);
        default: return status::invalidOperation;
    }
}

}  // namespace

void setStorage(Storage& storage) {
    std::lock_guard<std::mutex> guard(callMutex());
    selectedStorage() = &storage;
}

Storage& currentStorage() {
    return *selectedStorage();
}

// The entry below is the contract's Entry, convention included.
static_assert(std::is_same_v<decltype(&BTRCALL), Entry>);

}  // namespace engine

extern "C" NUBO_BTRCALL_EXPORT int NUBO_BTRCALL_CONV BTRCALL(uint16_t operation,
                                                             void* positionBlock, void* dataBuffer,
                                                             uint32_t* dataLength, void* keyBuffer,
                                                             uint8_t keyLength, int8_t keyNumber) {
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

extern "C" NUBO_BTRCALL_EXPORT int NUBO_BTRCALL_CONV
BTRCALL32(uint16_t operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
          void* keyBuffer, uint8_t keyLength, int8_t keyNumber) {
    return BTRCALL(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength,
                   keyNumber);
}

extern "C" NUBO_BTRCALL_EXPORT int NUBO_BTRCALL_CONV
BTRCALLID(uint16_t operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
          void* keyBuffer, uint8_t keyLength, int8_t keyNumber, void* clientId) {
    // Every client identifier is the process's one client (btrcall.h).
    static_cast<void>(clientId);
    return BTRCALL(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength,
                   keyNumber);
}

extern "C" NUBO_BTRCALL_EXPORT int NUBO_BTRCALL_CONV
BTRCALLID32(uint16_t operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
            void* keyBuffer, uint8_t keyLength, int8_t keyNumber, void* clientId) {
    return BTRCALLID(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength,
                     keyNumber, clientId);
}
