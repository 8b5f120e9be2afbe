#include "engine/sqlite/storage.h"

#include "engine/sqlite/create_file.h"
#include "engine/sqlite/table.h"

namespace engine::sqlite {
namespace {

class SqliteStorage final : public Storage {
public:
    std::int16_t open(const std::string& path, OpenMode mode,
                      std::unique_ptr<Table>& out) override {
        return SqliteTable::open(path, mode, out);
    }
    std::int16_t create(const std::string& path, const FileDescription& description,
                        bool overwrite) override {
        return createDataFile(path, description, overwrite);
    }
};

}  // namespace

Storage& storage() {
    static SqliteStorage s;
    return s;
}

}  // namespace engine::sqlite
