#include "tests/support/installation.h"

#include <cstdlib>
#include <fstream>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "engine/api.h"
#include "engine/btrcall.h"
#include "platform/coding.h"

namespace e2e {
namespace {

constexpr std::uint16_t kOpen = engine::op::open, kClose = engine::op::close,
                        kInsert = engine::op::insert, kGetNext = engine::op::getNext,
                        kGetFirst = engine::op::getFirst, kCreate = engine::op::create;

struct Segment {
    std::uint16_t position;  // 1-based
    std::uint16_t length;
};

// A creation description: file specification and one segment per key, no
// duplicates, string type.
std::string description(std::uint16_t recordLength, const std::vector<Segment>& keys) {
    using namespace engine;
    std::string d(filespec::size + segspec::size * keys.size(), '\0');
    auto* p = coding::bytes(d);
    coding::putU16(p + filespec::recordLength, recordLength);
    coding::putU16(p + filespec::pageSize, 1024);
    coding::putU16(p + filespec::keyCount, static_cast<std::uint16_t>(keys.size()));
    for (std::size_t i = 0; i < keys.size(); ++i) {
        unsigned char* segment = p + filespec::size + segspec::size * i;
        coding::putU16(segment + segspec::position, keys[i].position);
        coding::putU16(segment + segspec::length, keys[i].length);
    }
    return d;
}

// Dictionary file: a 16-bit length, then the description.
std::string dictionary(const std::string& desc) {
    std::string out(2, '\0');
    coding::putU16(coding::bytes(out), static_cast<std::uint16_t>(desc.size()));
    return out + desc;
}

constexpr std::uint16_t kPropertiesLength = 128;

struct Handle {
    unsigned char position[engine::positionBlockSize] = {};
};

std::int16_t call(std::uint16_t op, Handle& h, std::string& data, std::string& key,
                  std::int8_t keyNumber, std::uint32_t* returned = nullptr) {
    std::uint32_t length = static_cast<std::uint32_t>(data.size());
    key.resize(engine::keyBufferSize, '\0');
    const std::int16_t status = BTRCALL(op, h.position, data.data(), &length, key.data(),
                                        static_cast<std::uint8_t>(engine::maxKeyLength), keyNumber);
    if (returned != nullptr) *returned = length;
    return status;
}

void openFile(Handle& h, const std::string& path) {
    std::string owner(8, '\0');
    std::string key = path;
    key.push_back('\0');
    if (call(kOpen, h, owner, key, 0) != 0) throw std::runtime_error("cannot open " + path);
}

void closeFile(Handle& h) {
    std::string data(8, '\0'), key(8, '\0');
    call(kClose, h, data, key, 0);
}

// Whether the data file exists, asked of the record manager: on a server a
// data file is no file at its path.
bool dataFileExists(const std::string& path) {
    Handle h;
    std::string owner(8, '\0');
    std::string key = path;
    key.push_back('\0');
    const std::int16_t st = call(kOpen, h, owner, key, 0);
    if (st == 0) closeFile(h);
    return st != engine::status::fileNotFound;
}

void createFile(const std::string& path, const std::string& desc) {
    Handle h;
    std::string data = desc;
    std::string key = path;
    key.push_back('\0');
    if (call(kCreate, h, data, key, -1) != 0) throw std::runtime_error("cannot create " + path);
}

void insertAll(const std::string& path, const std::vector<std::string>& records) {
    Handle h;
    openFile(h, path);
    for (const std::string& r : records) {
        std::string data = r;
        std::string key(256, '\0');
        if (call(kInsert, h, data, key, 0) != 0)
            throw std::runtime_error("cannot insert into " + path);
    }
    closeFile(h);
}

}  // namespace

void Installation::write(const std::string& name, const std::string& bytes) const {
    const std::filesystem::path p = base_ + name;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string packedNumber(int n) {
    std::string out(2, '\0');
    out[0] = static_cast<char>(128 + (n / 100) % 100);
    out[1] = static_cast<char>(128 + n % 100);
    return out;
}

std::string ownerKey(int property, int owner) {
    return packedNumber(property) + packedNumber(owner);
}

std::string WorkFile::text() const {
    std::vector<std::string> lines = {issueDate,    firstProperty, firstOwner,
                                      lastProperty, lastOwner,     issueNumber};
    for (int i = 0; i < 3; ++i) {
        lines.push_back(methodEnabled[i]);
        lines.push_back(seriesFrom[i]);
        lines.push_back(seriesTo[i]);
    }
    for (const auto& c : conceptEnabled) lines.push_back(c);
    std::string out;
    for (const auto& l : lines) out += l + "\r\n";
    return out;
}

std::string Collection::bytes() const {
    std::string r(22, '\0');
    auto* p = coding::bytes(r);
    std::memcpy(p + 0, ownerKey.data(), 4);
    std::memcpy(p + 4, issueDate.data(), 4);
    p[8] = issueNumber;
    std::memcpy(p + 9, collectedDate.data(), 4);
    coding::putI32(p + 13, totalAmount);
    coding::putI32(p + 17, flaggedAmount);
    p[21] = static_cast<unsigned char>(state);
    return r;
}

Installation::Installation()
    : temp_(std::make_unique<testing_support::TempDir>()), base_(temp_->dir()) {
    layOut();
}

Installation::Installation(const std::string& folder) : base_(folder) {
    if (base_.empty() || base_.back() != '/') base_ += '/';
    layOut();
}

void Installation::layOut() {
    write("root/DADES/.keep", "");
    write("work/NuboTerm.ini", "[Pantalla]\r\nSeleccio=0\r\n[Sistema]\r\nIdioma=CAT\r\n");
    write("root/ddf/THRebut.xdf", dictionary(description(64, {{1, 4}})));
    write("root/ddf/TRemeses.xdf", dictionary(description(64, {{1, 4}})));
    write("root/ddf/FinquesH.xdf", dictionary(description(kPropertiesLength, {{1, 2}})));
    write("root/ddf/PropietH.xdf", dictionary(description(428, {{1, 4}})));
    write("root/ddf/CobramH.xdf", dictionary(description(22, {{1, 9}})));
}

void Installation::mapToServer(const std::string& conninfo, const std::string& schema) {
    write("root/nubodb.server", "server = " + conninfo + "\nschema = " + schema + "\n");
}

void Installation::addProperties(const std::vector<Property>& properties) {
    const std::string path = root() + "DADES/FinquesH.dat";
    if (!dataFileExists(path)) createFile(path, description(kPropertiesLength, {{1, 2}}));
    std::vector<std::string> records;
    for (const Property& p : properties) {
        std::string r(kPropertiesLength, ' ');
        auto* b = coding::bytes(r);
        std::memcpy(b, packedNumber(p.number).data(), 2);
        coding::putI16(b + 106, p.cycleStartMonth);
        coding::putI16(b + 108, p.cycleMonths);
        records.push_back(r);
    }
    insertAll(path, records);
}

namespace {

std::string ownerRecord(const Owner& o) {
    std::string r(428, ' ');
    auto* b = coding::bytes(r);
    std::memcpy(b, ownerKey(o.property, o.owner).data(), 4);
    b[159] = static_cast<unsigned char>(o.paymentMethod);
    b[160] = o.seriesLow;
    b[313] = static_cast<unsigned char>(o.billingMoment);
    b[314] = o.seriesHigh;
    for (int k = 1; k <= 8; ++k) {
        unsigned char* e = b + 239 + 7 * (k - 1);
        e[0] = static_cast<unsigned char>(o.concepts[k].flag);
        coding::putI16(e + 1, o.concepts[k].periodMonths);
        coding::putI32(e + 3, o.concepts[k].amount);
    }
    for (int k = 9; k <= 10; ++k) {
        unsigned char* e = b + (k == 9 ? 295 : 304);
        coding::putI16(e + 0, o.concepts[k].code);
        e[2] = static_cast<unsigned char>(o.concepts[k].flag);
        coding::putI16(e + 3, o.concepts[k].periodMonths);
        coding::putI32(e + 5, o.concepts[k].amount);
    }
    return r;
}

}  // namespace

void Installation::addOwners(const std::vector<Owner>& owners) {
    addOwners(owners.size(), [&owners](std::size_t i) { return owners[i]; });
}

void Installation::addOwners(std::size_t count, const std::function<Owner(std::size_t)>& ownerAt) {
    const std::string path = root() + "DADES/PropietH.dat";
    if (!dataFileExists(path)) createFile(path, description(428, {{1, 4}}));
    Handle h;
    openFile(h, path);
    for (std::size_t i = 0; i < count; ++i) {
        std::string data = ownerRecord(ownerAt(i));
        std::string key(256, '\0');
        if (call(kInsert, h, data, key, 0) != 0) {
            closeFile(h);
            throw std::runtime_error("cannot insert into " + path);
        }
    }
    closeFile(h);
}

void Installation::writeWorkFile(const WorkFile& work) {
    write("work/pent.tmp", work.text());
}

void Installation::writeWorkFileText(const std::string& text) {
    write("work/pent.tmp", text);
}

void Installation::removeWorkFile() {
    std::filesystem::remove(base_ + "work/pent.tmp");
}

std::vector<std::string> Installation::collections() const {
    std::vector<std::string> out;
    const std::string path = root() + "DADES/CobramH.dat";
    if (!dataFileExists(path)) return out;
    Handle h;
    openFile(h, path);
    std::uint16_t op = kGetFirst;
    for (;;) {
        std::string data(1536, '\0');
        std::string key(256, '\0');
        std::uint32_t length = 0;
        if (call(op, h, data, key, 0, &length) != 0) break;
        out.push_back(data.substr(0, length));
        op = kGetNext;
    }
    closeFile(h);
    return out;
}

std::string Installation::operationsLog() const {
    std::ifstream in(base_ + "root/db.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string logLine(int status) {
    std::string s = std::to_string(status);
    std::string line = " 514" + std::string(10, ' ') + " 2" + std::string(12, ' ') + " " + s + " ";
    return line + "\r\n";
}

}  // namespace e2e
