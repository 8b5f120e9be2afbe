#include "tools/commands.h"

#include <algorithm>

#include "tools/error.h"

namespace nubodat {

std::string usageText() {
    return "usage: nubodat COMMAND ARGUMENTS\n"
           "\n"
           "  dict SOURCE.ddf --out DICT.xdf   dictionary file from its readable source\n"
           "  dict DICT.xdf                    readable source of a dictionary file\n"
           "  create FILE --from DICT          empty data file (DICT: .xdf or readable source)\n"
           "  stat FILE                        record length, page size, records, keys\n"
           "  save FILE [OUT]                  every record to the sequential layout\n"
           "  load FILE IN                     records from the sequential layout, all or nothing\n"
           "  export FILE [OUT] [--layout L] [--table]\n"
           "                                   records as CSV (or an aligned table)\n"
           "  import FILE IN [--layout L]      records from CSV, all or nothing\n"
           "  check FILE                       walks every key and confirms the counts\n"
           "\n"
           "Layouts (chosen by the file's base name unless --layout names one):\n"
           "  properties (FinquesH), owners (PropietH), collections (CobramH).\n"
           "Without OUT, save and export write to standard output.\n";
}

std::string ParsedArgs::option(const std::string& name) const {
    for (const auto& [n, v] : options)
        if (n == name) return v;
    return "";
}

bool ParsedArgs::has(const std::string& name) const {
    return std::any_of(options.begin(), options.end(), [&](const auto& o) { return o.first == name; });
}

ParsedArgs parseArgs(const Args& args, const std::vector<std::string>& valued,
                     const std::vector<std::string>& flags, std::size_t minPositional,
                     std::size_t maxPositional) {
    ParsedArgs p;
    auto in = [](const std::vector<std::string>& list, const std::string& s) {
        return std::find(list.begin(), list.end(), s) != list.end();
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() > 2 && a.rfind("--", 0) == 0) {
            const std::string name = a.substr(2);
            if (in(flags, name)) {
                p.options.emplace_back(name, "");
            } else if (in(valued, name)) {
                if (i + 1 >= args.size()) throw UsageError("option " + a + " needs a value");
                p.options.emplace_back(name, args[++i]);
            } else {
                throw UsageError("unknown option " + a);
            }
        } else {
            p.positional.push_back(a);
        }
    }
    if (p.positional.size() < minPositional) throw UsageError("missing arguments");
    if (p.positional.size() > maxPositional) throw UsageError("too many arguments");
    return p;
}

int runCommand(const Args& args, std::ostream& out, std::ostream& err) {
    struct Entry {
        const char* name;
        void (*run)(const Args&, std::ostream&);
    };
    static const Entry commands[] = {
        {"dict", commandDict},     {"create", commandCreate}, {"stat", commandStat},
        {"save", commandSave},     {"load", commandLoad},     {"export", commandExport},
        {"import", commandImport}, {"check", commandCheck},
    };
    if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
        (args.empty() ? err : out) << usageText();
        return args.empty() ? 2 : 0;
    }
    for (const Entry& c : commands) {
        if (args[0] != c.name) continue;
        try {
            c.run(Args(args.begin() + 1, args.end()), out);
            return 0;
        } catch (const UsageError& e) {
            err << "nubodat " << args[0] << ": " << e.what() << "\n\n" << usageText();
            return 2;
        } catch (const Error& e) {
            out.flush();
            err << "nubodat " << args[0] << ": " << e.what() << "\n";
            return 1;
        }
    }
    err << "nubodat: unknown command \"" << args[0] << "\"\n\n" << usageText();
    return 2;
}

}  // namespace nubodat
