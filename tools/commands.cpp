#include "tools/commands.h"

#include <algorithm>

#include "tools/error.h"

namespace nubodat {

namespace {

struct Entry {
    const char* name;
    void (*run)(const Args&, std::ostream&);
    const char* usage;  // the command's lines of the help text
};

const Entry kCommands[] = {
    {"dict", commandDict,
     "  dict SOURCE.ddf --out DICT.xdf   dictionary file from its readable source\n"
     "  dict DICT.xdf                    readable source of a dictionary file\n"},
    {"create", commandCreate,
     "  create FILE --from DICT          empty data file (DICT: .xdf or readable source)\n"},
    {"stat", commandStat,
     "  stat FILE                        record length, page size, records, keys\n"},
    {"save", commandSave,
     "  save FILE [OUT]                  every record to the sequential layout\n"},
    {"load", commandLoad,
     "  load FILE IN [--no-end-mark]     records from the sequential layout, all or nothing;\n"
     "                                   refuses a file without its end mark unless told\n"},
    {"copy", commandCopy,
     "  copy SOURCE TARGET               a new data file with every record of SOURCE, in\n"
     "                                   its order, all or nothing, verified record by record\n"},
    {"export", commandExport,
     "  export FILE [OUT] [--layout L] [--table]\n"
     "                                   records as CSV (or an aligned table)\n"},
    {"import", commandImport,
     "  import FILE IN [--layout L] [--replace]\n"
     "                                   records from CSV, all or nothing; --replace puts\n"
     "                                   a record in the place of the one with its key 0\n"},
    {"delete", commandDelete,
     "  delete FILE IN [--layout L]      removes the records whose key 0 a CSV row gives,\n"
     "                                   all or nothing\n"},
    {"check", commandCheck,
     "  check FILE                       walks every key and confirms the counts\n"},
    {"workfile", commandWorkFile,
     "  workfile OUT --date DD/MM/YYYY --issue N [--from P/O] [--to P/O]\n"
     "           [--methods ABF] [--series-a F-L] [--series-b F-L] [--series-f F-L]\n"
     "           [--concepts 1-10|1,3,5]\n"
     "                                   writes the 25 lines of a work file (CR LF)\n"},
    {"preview", commandPreview,
     "  preview ROOT WORKFILE [--selected]\n"
     "                                   what the program would do, writing nothing;\n"
     "                                   --selected lists only the owners that take part\n"},
    {"undo", commandUndo,
     "  undo COLLECTIONS --date DD/MM/YYYY --issue N [--from P/O] [--to P/O] [--yes]\n"
     "                                   removes the collections of one issue, all or nothing\n"},
#ifdef NUBODAT_VIEWS
    {"views", commandViews,
     "  views MAPFILE                    on the server the map file names, a view with\n"
     "                                   named, typed columns per file of a known layout\n"},
#endif
};

std::string commandUsage(const Entry& c) {
    return "usage: nubodat " + std::string(c.usage).substr(2);
}

}  // namespace

std::string versionText() {
    return "nubodat " NUBODAT_VERSION " - data files of the Nubo suite\n";
}

std::string usageText() {
    std::string text =
        "usage: nubodat COMMAND ARGUMENTS  (nubodat COMMAND --help, nubodat --version)\n\n";
    for (const Entry& c : kCommands) text += c.usage;
    text +=
        "\n"
        "Layouts (chosen by the file's base name unless --layout names one):\n"
        "  properties (FinquesH), owners (PropietH), collections (CobramH).\n"
        "Without OUT, save and export write to standard output; \"-\" as IN or OUT\n"
        "stands for standard input or output. P/O is a property and owner number.\n";
    return text;
}

std::string ParsedArgs::option(const std::string& name) const {
    for (auto o = options.rbegin(); o != options.rend(); ++o)
        if (o->first == name) return o->second;
    return "";
}

bool ParsedArgs::has(const std::string& name) const {
    return std::any_of(options.begin(), options.end(),
                       [&](const auto& o) { return o.first == name; });
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
            const std::size_t equals = a.find('=');
            const std::string name =
                a.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            if (equals != std::string::npos) {
                if (!in(valued, name))
                    throw UsageError(in(flags, name) ? "option --" + name + " takes no value"
                                                     : "unknown option " + a);
                p.options.emplace_back(name, a.substr(equals + 1));
            } else if (in(flags, name)) {
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
    if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
        (args.empty() ? err : out) << usageText();
        return args.empty() ? 2 : 0;
    }
    if (args[0] == "--version") {
        out << versionText();
        return 0;
    }
    for (const Entry& c : kCommands) {
        if (args[0] != c.name) continue;
        if (std::find_if(args.begin() + 1, args.end(), [](const std::string& a) {
                return a == "--help" || a == "-h";
            }) != args.end()) {
            out << commandUsage(c);
            return 0;
        }
        try {
            c.run(Args(args.begin() + 1, args.end()), out);
            return 0;
        } catch (const UsageError& e) {
            err << "nubodat " << args[0] << ": " << e.what() << "\n" << commandUsage(c);
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
