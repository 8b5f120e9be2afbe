#include "tools/record_file.h"

#include <cstring>

#include "tools/error.h"

namespace nubodat {
namespace {

// A path and its zero byte fit the key buffer.
void checkPath(const std::string& path) {
    if (path.size() > engine::maxPathLength) {
        throw Error(path + ": the path is longer than 255 characters");
    }
}

}  // namespace

std::string statusText(std::int16_t status) {
    std::string text = "status " + std::to_string(status);
    if (const char* meaning = engine::statusName(status)) text += std::string(" (") + meaning + ")";
    return text;
}

std::int16_t RecordFile::create(const std::string& path, const Description& description) {
    const std::string data = encodeDescription(description);
    if (data.size() > engine::dataBufferSize) {
        throw Error(path + ": the description is longer than 1536 bytes");
    }
    checkPath(path);
    // The description alone is offered, without the blank bytes after it.
    engine::Client scratch;
    std::memcpy(scratch.data, data.data(), data.size());
    scratch.setKey(path);
    return scratch.call(engine::op::create, static_cast<std::uint32_t>(data.size()),
                        engine::createKeepExisting);
}

std::int16_t RecordFile::open(const std::string& path, int mode) {
    close();
    checkPath(path);
    std::memset(client_.position, 0, sizeof client_.position);
    const std::int16_t s = client_.open(path, static_cast<std::int8_t>(mode));
    open_ = s == status::kOk;
    path_ = path;
    return s;
}

void RecordFile::close() {
    if (!open_) return;
    client_.setKey({});
    client_.close();
    open_ = false;
}

std::int16_t RecordFile::stat(Description& out) {
    client_.setKey({});
    const std::int16_t s = client_.stat();
    if (s != status::kOk) return s;
    if (client_.length > sizeof client_.data) {
        throw Error(path_ + ": the Stat answer is longer than its buffer");
    }
    out = decodeDescription(client_.record(), true, path_);
    return s;
}

std::int16_t RecordFile::get(std::uint16_t operation, int keyNumber, std::string& record,
                             std::string& key) {
    const std::int16_t s = client_.get(operation, static_cast<std::int8_t>(keyNumber));
    key = client_.keyBytes(engine::keyBufferSize);
    if (s != status::kOk) return s;
    if (client_.length > sizeof client_.data) {
        throw Error(path_ + ": a record is longer than the read buffer");
    }
    record = client_.record();
    return s;
}

std::int16_t RecordFile::step(std::uint16_t operation, std::string& record) {
    const std::int16_t s = client_.call(operation, sizeof client_.data, 0);
    if (s != status::kOk) return s;
    if (client_.length > sizeof client_.data) {
        throw Error(path_ + ": a record is longer than the read buffer");
    }
    record = client_.record();
    return s;
}

std::int16_t RecordFile::beginTransaction() {
    return engine::Client().call(engine::op::beginTransaction, 0, 0);
}

std::int16_t RecordFile::endTransaction() {
    return engine::Client().call(engine::op::endTransaction, 0, 0);
}

std::int16_t RecordFile::abortTransaction() {
    return engine::Client().call(engine::op::abortTransaction, 0, 0);
}

std::int16_t RecordFile::getEqual(int keyNumber, std::string& key, std::string& record) {
    const std::int16_t s =
        client_.get(engine::op::getEqual, static_cast<std::int8_t>(keyNumber), key);
    if (s != status::kOk) return s;
    if (client_.length > sizeof client_.data) {
        throw Error(path_ + ": a record is longer than the read buffer");
    }
    record = client_.record();
    return s;
}

std::int16_t RecordFile::insert(const std::string& record) {
    if (record.size() > engine::dataBufferSize) {
        throw Error(path_ + ": a record is longer than 1536 bytes");
    }
    client_.setKey({});
    return client_.insert(record, 0);
}

std::int16_t RecordFile::remove() {
    client_.setKey({});
    return client_.remove();
}

std::int16_t RecordFile::begin() {
    return client_.call(engine::op::beginTransaction, 0, 0);
}

std::int16_t RecordFile::end() {
    return client_.call(engine::op::endTransaction, 0, 0);
}

void RecordFile::abort() {
    client_.call(engine::op::abortTransaction, 0, 0);
}

}  // namespace nubodat
