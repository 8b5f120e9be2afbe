#include "tests/reliability/checks.h"

#include <sqlite3.h>

#include <filesystem>
#include <fstream>

namespace reliability {

std::string programPath() {
    return COBRAM_PROGRAM;
}

void populate(e2e::Installation& installation, int properties, int ownersPerProperty) {
    std::vector<e2e::Property> ps;
    std::vector<e2e::Owner> os;
    const char methods[] = {'A', 'B', 'F'};
    for (int p = 1; p <= properties; ++p) {
        e2e::Property property;
        property.number = p;
        ps.push_back(property);
        for (int o = 1; o <= ownersPerProperty; ++o) {
            e2e::Owner owner;
            owner.property = p;
            owner.owner = o;
            owner.paymentMethod = methods[(p + o) % 3];
            owner.concepts[1] = {' ', 1, 1000 + o, 0};
            os.push_back(owner);
        }
    }
    installation.addProperties(ps);
    installation.addOwners(os);
}

std::string integrityCheck(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        const std::string why = db != nullptr ? sqlite3_errmsg(db) : "cannot open";
        sqlite3_close(db);
        return why;
    }
    sqlite3_busy_timeout(db, 10000);
    std::string result;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) != SQLITE_OK) {
        result = sqlite3_errmsg(db);
    } else {
        int step;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            if (!result.empty()) result += "; ";
            result += reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        }
        if (step != SQLITE_DONE)
            result += std::string(result.empty() ? "" : "; ") + sqlite3_errmsg(db);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return result;
}

std::vector<std::string> damagedDataFiles(const e2e::Installation& installation) {
    std::vector<std::string> damaged;
    for (const auto& entry : std::filesystem::directory_iterator(installation.root() + "DADES")) {
        if (entry.path().extension() != ".dat") continue;
        const std::string finding = integrityCheck(entry.path().string());
        if (finding != "ok") damaged.push_back(entry.path().filename().string() + ": " + finding);
    }
    return damaged;
}

OperationsLog readOperationsLog(const std::string& text) {
    OperationsLog log;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            log.endsWithLineEnd = false;
            ++log.lines;
            ++log.malformed;
            break;
        }
        const std::string line = text.substr(start, end - start + 2);
        ++log.lines;
        // The third number starts at column 29; the line must be exactly the
        // one the data layer writes for that status.
        int status = 0;
        bool parsed = line.size() > 30;
        if (parsed) {
            try {
                status = std::stoi(line.substr(28));
            } catch (...) {
                parsed = false;
            }
        }
        if (parsed && line == e2e::logLine(status)) {
            ++log.byStatus[status];
        } else {
            ++log.malformed;
        }
        start = end + 2;
    }
    return log;
}

std::map<std::string, int> ownerCounts(const std::vector<std::string>& collections) {
    std::map<std::string, int> counts;
    for (const std::string& c : collections) ++counts[c.substr(0, 4)];
    return counts;
}

std::string addWorkFolder(const e2e::Installation& installation, const std::string& name,
                          const e2e::WorkFile& work) {
    const std::string folder = installation.folder() + name + "/";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(installation.work() + "NuboTerm.ini", folder + "NuboTerm.ini",
                               std::filesystem::copy_options::overwrite_existing);
    std::ofstream(folder + "pent.tmp", std::ios::binary | std::ios::trunc) << work.text();
    return folder;
}

void copyInstallation(const e2e::Installation& installation, const std::string& folder) {
    std::filesystem::create_directories(folder);
    std::filesystem::copy(installation.folder(), folder,
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing);
}

}  // namespace reliability
