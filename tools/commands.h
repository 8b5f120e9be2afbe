// The commands of nubodat. Each takes its arguments (after the command
// name), writes what it shows to `out`, and throws Error with a message
// naming the file, line and field at fault when it cannot do its work; a
// command that fails leaves no file half-written.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace nubodat {

using Args = std::vector<std::string>;

// Runs the command `args[0]` with the rest of `args`. Returns the exit code:
// 0 done, 1 failed (the message on `err`), 2 a usage error.
int runCommand(const Args& args, std::ostream& out, std::ostream& err);

// The help text, and the version line.
std::string usageText();
std::string versionText();

// dict SOURCE [--out DICT.xdf]: a readable source to a dictionary file, or
// (without --out, or given an .xdf) the readable source of a dictionary.
void commandDict(const Args& args, std::ostream& out);
// create FILE --from DICT: an empty data file from a dictionary (".xdf") or
// a readable source (any other name).
void commandCreate(const Args& args, std::ostream& out);
// stat FILE: the description and record count, readable.
void commandStat(const Args& args, std::ostream& out);
// save FILE [OUT] / load FILE IN: the sequential layout.
void commandSave(const Args& args, std::ostream& out);
void commandLoad(const Args& args, std::ostream& out);
// copy SOURCE TARGET: every record of one data file into a new one, of
// any backend, in one transaction, then both compared record by record.
void commandCopy(const Args& args, std::ostream& out);
// export FILE [OUT] [--layout L] [--table] / import FILE IN [--layout L]
// [--replace] / delete FILE IN [--layout L].
void commandExport(const Args& args, std::ostream& out);
void commandImport(const Args& args, std::ostream& out);
void commandDelete(const Args& args, std::ostream& out);
// workfile OUT --date D --issue N ...: the 25 lines of a work file.
void commandWorkFile(const Args& args, std::ostream& out);
// preview ROOT WORKFILE [--selected]: what an issue run would insert.
void commandPreview(const Args& args, std::ostream& out);
// undo COLLECTIONS --date D --issue N [--from P/O] [--to P/O] [--yes].
void commandUndo(const Args& args, std::ostream& out);
// views MAPFILE: on the server a map file names, a view with named, typed
// columns for every data file of a known layout (tools/views.h), made or
// replaced in one transaction. Only in a build with the PostgreSQL backend.
void commandViews(const Args& args, std::ostream& out);
// check FILE: every key walked both ways, counts and keys confirmed.
// Throws Error listing what disagrees.
void commandCheck(const Args& args, std::ostream& out);

// Splits `args` into positional arguments and "--name value" or
// "--name=value" options (and
// the flags named in `flags`, which take no value). Throws UsageError.
struct ParsedArgs {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;
    std::string option(const std::string& name) const;  // the last given; "" when absent
    bool has(const std::string& name) const;
};
ParsedArgs parseArgs(const Args& args, const std::vector<std::string>& valued,
                     const std::vector<std::string>& flags, std::size_t minPositional,
                     std::size_t maxPositional);

class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& m) : std::runtime_error(m) {}
};

}  // namespace nubodat
