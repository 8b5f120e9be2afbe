// views: the report views of an installation's data files on its server.
#include <string>
#include <vector>

#include "engine/postgres/names.h"
#include "engine/postgres/pq.h"
#include "engine/postgres/server_map.h"
#include "tools/commands.h"
#include "tools/error.h"
#include "tools/plain_files.h"
#include "tools/views.h"

namespace nubodat {

void commandViews(const Args& args, std::ostream& out) {
    const ParsedArgs p = parseArgs(args, {}, {}, 1, 1);
    const std::string& mapPath = p.positional[0];
    engine::pg::ServerMap map;
    std::string error;
    if (!engine::pg::parseServerMap(readPlainFile(mapPath, engine::pg::maxMapFileSize), map,
                                    error)) {
        fail(mapPath, 0, error);
    }
    engine::pg::Bounds bounds;
    bounds.connectMilliseconds = map.connectSeconds * 1000;
    bounds.callMilliseconds = map.callSeconds * 1000;
    engine::pg::Fault fault;
    auto conn = engine::pg::Connection::open(map.server, bounds, fault);
    if (!conn) {
        fail(mapPath, 0,
             "no session with the server (status " + std::to_string(fault.status) +
                 "): " + fault.message);
    }
    const auto failed = [&](const std::string& what) {
        const engine::pg::Fault f = conn->fault();  // before the rollback's own
        conn->runOnce("ROLLBACK");
        fail(mapPath, 0,
             what + " (status " + std::to_string(f.status) + "): " + f.message +
                 "; no view was changed");
    };
    const std::string qs = engine::pg::quoteIdentifier(map.schema);
    if (qs.empty()) fail(mapPath, 0, "the schema name cannot be a name on the server");
    if (!conn->runOnce("BEGIN")) failed("the server refused to begin");
    const engine::pg::Result files =
        conn->runOnce("SELECT name, table_name FROM " + qs + ".nubo_files ORDER BY name");
    if (!files) failed("the data files of schema " + map.schema + " cannot be read");
    int made = 0;
    for (int row = 0; row < files.rows(); ++row) {
        const std::string name(files.text(row, 0));
        const std::string table(files.text(row, 1));
        const Layout* layout = layoutForPath(name);
        if (!layout) continue;
        const std::string view = viewName(name, *layout);
        const std::string qt = engine::pg::quoteIdentifier(table);
        const std::string qv = engine::pg::quoteIdentifier(view);
        if (qt.empty() || qv.empty()) failed("the file " + name + " has no usable table name");
        if (!conn->runOnce(viewStatement(*layout, qs + "." + qv, qs + "." + qt)))
            failed("the view of " + name + " cannot be made");
        out << "view " << qv << " of " << name << " (" << layout->name << ", "
            << layout->fields.size() << " fields)\n";
        ++made;
    }
    if (!conn->runOnce("COMMIT")) failed("the views were not committed");
    out << made << (made == 1 ? " view" : " views") << " in schema " << qs << "\n";
}

}  // namespace nubodat
