#include "engine/postgres/storage.h"

#include "engine/postgres/names.h"
#include "engine/postgres/session.h"
#include "engine/postgres/table.h"
#include "platform/platform.h"

namespace engine::pg {
namespace {

std::string& faultText() {
    static auto* s = new std::string();
    return *s;
}

std::int16_t note(std::int16_t st, const std::string& text) {
    if (st != status::ok) faultText() = text;
    return st;
}

// Rolls back the transaction of a failed create, unless it committed.
// Inside the process's transaction on the session, a savepoint stands for
// it: the new file then comes with that transaction's commit.
class Transaction {
public:
    explicit Transaction(Session& session)
        : conn_(session.connection()), nested_(session.inTransaction()) {}
    ~Transaction() {
        if (!open_ || conn_.lost()) return;
        if (nested_) {
            conn_.runOnce("ROLLBACK TO SAVEPOINT nubo_create");
            conn_.runOnce("RELEASE SAVEPOINT nubo_create");
        } else {
            conn_.runOnce("ROLLBACK");
        }
    }
    std::int16_t begin() {
        if (!conn_.runOnce(nested_ ? "SAVEPOINT nubo_create" : "BEGIN")) {
            return conn_.fault().status;
        }
        open_ = true;
        return status::ok;
    }
    std::int16_t commit() {
        open_ = false;
        return conn_.runOnce(nested_ ? "RELEASE SAVEPOINT nubo_create" : "COMMIT")
                   ? status::ok
                   : conn_.fault().status;
    }

private:
    Connection& conn_;
    bool nested_ = false;
    bool open_ = false;
};

// A status of a statement of Create: a fault of the server or the session
// stays as it is; any other failure of the DDL is a create error.
std::int16_t createStatus(const Connection& conn) {
    const std::int16_t st = conn.fault().status;
    switch (st) {
        case status::sessionLost:
        case status::permissionError:
        case status::fileLocked:
        case status::deadlock:
        case status::diskFull: return st;
        default: return status::createError;
    }
}

std::int16_t createInTransaction(Session& session, const std::string& schema,
                                 const std::string& name, const FileDescription& description,
                                 bool overwrite) {
    Connection& conn = session.connection();
    const std::string qs = quoteIdentifier(schema);
    const std::int32_t schemaKey = Session::schemaKey(schema);
    // One creation at a time per schema, on every machine.
    if (!conn.runOnce("SELECT pg_advisory_xact_lock($1, 0)",
                      std::vector{Param::int32(schemaKey)})) {
        return createStatus(conn);
    }
    // The catalog is made once; a role that may not make it finds it made.
    const Result exists = conn.runOnce("SELECT to_regclass($1) IS NOT NULL",
                                       std::vector{Param::text(qs + ".nubo_files")});
    bool present = false;
    if (!exists || !exists.boolean(0, 0, present)) return createStatus(conn);
    if (!present) {
        for (const std::string& sql : catalogStatements(qs)) {
            if (!conn.runOnce(sql)) return createStatus(conn);
        }
    }
    const std::vector nameParam{Param::text(name)};
    const Result old = conn.runOnce(
        "SELECT id, table_name FROM " + qs + ".nubo_files WHERE name = $1 FOR UPDATE", nameParam);
    if (!old) return createStatus(conn);
    if (old.rows() == 1) {
        if (!overwrite) return status::fileExists;
        const auto idBytes = old.bytes(0, 0);
        if (idBytes.size() != 4) return status::createError;
        const auto oldId = static_cast<std::int32_t>((std::uint32_t{idBytes[0]} << 24) |
                                                     (std::uint32_t{idBytes[1]} << 16) |
                                                     (std::uint32_t{idBytes[2]} << 8) | idBytes[3]);
        if (session.fileOpenHere(schema, oldId)) return status::fileLocked;
        // Free of every open on every machine for the rest of this
        // transaction: an open waits on the catalog row meanwhile.
        const Result free = conn.runOnce("SELECT pg_try_advisory_xact_lock($1, $2)",
                                         std::vector{Param::int32(schemaKey), Param::int32(oldId)});
        bool taken = false;
        if (!free || !free.boolean(0, 0, taken)) return createStatus(conn);
        if (!taken) return status::fileLocked;
        const std::string oldTable(old.text(0, 1));
        if (!oldTable.empty() && validUtf8(oldTable)) {
            if (!conn.runOnce("DROP TABLE IF EXISTS " + qs + "." + quoteIdentifier(oldTable))) {
                return createStatus(conn);
            }
        }
        if (!conn.runOnce("DELETE FROM " + qs + ".nubo_files WHERE name = $1", nameParam)) {
            return createStatus(conn);
        }
    }
    const std::string tableName = identifier(name);
    const std::string stored = encodeDescription(description);
    const Result added = conn.runOnce(
        "INSERT INTO " + qs +
            ".nubo_files (name, table_name, format, description) VALUES ($1, $2, $3, $4) "
            "RETURNING id",
        std::vector{Param::text(name), Param::text(tableName), Param::text(fileFormat),
                    Param::bytes(stored)});
    if (!added) return createStatus(conn);
    const auto idBytes = added.bytes(0, 0);
    if (idBytes.size() != 4) return status::createError;
    const auto fileId = static_cast<std::int32_t>((std::uint32_t{idBytes[0]} << 24) |
                                                  (std::uint32_t{idBytes[1]} << 16) |
                                                  (std::uint32_t{idBytes[2]} << 8) | idBytes[3]);
    for (const std::string& sql : tableStatements(qs, tableName, fileId, description)) {
        if (!conn.runOnce(sql)) return createStatus(conn);
    }
    return status::ok;
}

class MappedStorage final : public Storage {
public:
    explicit MappedStorage(Storage& local) : local_(local) {}

    std::int16_t open(const std::string& path, OpenMode mode,
                      std::unique_ptr<Table>& out) override {
        const Placement p = placeDataFile(path);
        switch (p.where) {
            case Placement::Where::Local: return local_.open(path, mode, out);
            case Placement::Where::Invalid: return note(status::serverError, p.error);
            case Placement::Where::Server: break;
        }
        return openOnServer(p.map, p.name, mode, out);
    }

    std::int16_t create(const std::string& path, const FileDescription& description,
                        bool overwrite) override {
        const Placement p = placeDataFile(path);
        switch (p.where) {
            case Placement::Where::Local: return local_.create(path, description, overwrite);
            case Placement::Where::Invalid: return note(status::serverError, p.error);
            case Placement::Where::Server: break;
        }
        return createOnServer(p.map, p.name, description, overwrite);
    }

private:
    Storage& local_;
};

class ServerStorage final : public Storage {
public:
    explicit ServerStorage(ServerMap map) : map_(std::move(map)) {}

    std::int16_t open(const std::string& path, OpenMode mode,
                      std::unique_ptr<Table>& out) override {
        return openOnServer(map_, serverName(platform::oemToUtf8(path)), mode, out);
    }
    std::int16_t create(const std::string& path, const FileDescription& description,
                        bool overwrite) override {
        return createOnServer(map_, serverName(platform::oemToUtf8(path)), description, overwrite);
    }

private:
    ServerMap map_;
};

}  // namespace

std::unique_ptr<Storage> serverStorage(const ServerMap& map) {
    return std::make_unique<ServerStorage>(map);
}

Storage& mappedStorage(Storage& local) {
    static MappedStorage s(local);
    return s;
}

std::int16_t openOnServer(const ServerMap& map, const std::string& name, OpenMode mode,
                          std::unique_ptr<Table>& out) {
    out.reset();
    if (name.empty() || !validUtf8(name) || quoteIdentifier(map.schema).empty()) {
        return status::fileNotFound;
    }
    std::shared_ptr<Session> session;
    Fault fault;
    if (const std::int16_t st = Session::forServer(map, session, fault); st != status::ok) {
        return note(st, fault.message);
    }
    const std::int16_t st = PgTable::open(session, map.schema, name, mode, out);
    return note(st, session->connection().fault().message);
}

std::int16_t createOnServer(const ServerMap& map, const std::string& name,
                            const FileDescription& description, bool overwrite) {
    if (name.empty() || !validUtf8(name) || quoteIdentifier(map.schema).empty()) {
        return status::createError;
    }
    std::shared_ptr<Session> session;
    Fault fault;
    if (const std::int16_t st = Session::forServer(map, session, fault); st != status::ok) {
        return note(st, fault.message);
    }
    Connection& conn = session->connection();
    Transaction transaction(*session);
    if (const std::int16_t st = transaction.begin(); st != status::ok) {
        return note(st, conn.fault().message);
    }
    std::int16_t st = createInTransaction(*session, map.schema, name, description, overwrite);
    if (st == status::ok) st = transaction.commit();
    if (st == status::ok) return st;
    return note(st == status::ioError ? status::createError : st, conn.fault().message);
}

const std::string& lastServerFault() {
    return faultText();
}

}  // namespace engine::pg
