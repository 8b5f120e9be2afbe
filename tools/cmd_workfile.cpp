// workfile: the 25 lines of a work file from named settings, each checked,
// with the line endings and number forms the program reads as meant.
#include "tools/commands.h"
#include "tools/error.h"
#include "tools/plain_files.h"
#include "tools/work_file.h"

namespace nubodat {
namespace {

bool digitsOnly(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// "F-L": two numbers of 0 to 9999, the first not above the second.
void parseBounds(const std::string& text, const std::string& option, int max, int& first,
                 int& last) {
    const std::size_t dash = text.find('-');
    const std::string a = text.substr(0, dash),
                      b = dash == std::string::npos ? a : text.substr(dash + 1);
    if (!digitsOnly(a) || !digitsOnly(b) || a.size() > 4 || b.size() > 4 || std::stoi(a) > max ||
        std::stoi(b) > max || std::stoi(a) > std::stoi(b))
        throw UsageError("--" + option + " \"" + text +
                         "\": FIRST-LAST with 0 <= FIRST <= LAST <= " + std::to_string(max) +
                         " was expected");
    first = std::stoi(a);
    last = std::stoi(b);
}

}  // namespace

void commandWorkFile(const Args& args, std::ostream& out) {
    const ParsedArgs p = parseArgs(
        args,
        {"date", "issue", "from", "to", "methods", "series-a", "series-b", "series-f", "concepts"},
        {}, 1, 1);
    for (const char* required : {"date", "issue", "methods", "concepts"})
        if (!p.has(required)) throw UsageError(std::string("--") + required + " is required");
    WorkFileSettings s;
    parseIssueDate(p.option("date"), "date", s.day, s.month, s.year);
    s.issueNumber = parseIssueNumber(p.option("issue"), "issue");
    if (p.has("from")) parsePropertyOwner(p.option("from"), "from", s.firstProperty, s.firstOwner);
    if (p.has("to")) parsePropertyOwner(p.option("to"), "to", s.lastProperty, s.lastOwner);
    if (s.firstProperty * 10000 + s.firstOwner > s.lastProperty * 10000 + s.lastOwner)
        throw UsageError("--from comes after --to: the range is empty");

    const std::string methods = p.option("methods");
    const std::string letters = "ABF";
    if (methods.empty()) throw UsageError("--methods: one or more of the letters A, B and F");
    for (char m : methods) {
        const std::size_t i = letters.find(m);
        if (i == std::string::npos)
            throw UsageError(std::string("--methods: \"") + m +
                             "\" is not a payment method (A, B or F)");
        s.methods[i] = true;
    }
    const char* seriesOptions[] = {"series-a", "series-b", "series-f"};
    for (std::size_t i = 0; i < 3; ++i)
        if (p.has(seriesOptions[i]))
            parseBounds(p.option(seriesOptions[i]), seriesOptions[i], 9999, s.seriesFrom[i],
                        s.seriesTo[i]);

    const std::string concepts = p.option("concepts");
    if (concepts == "all") {
        s.concepts.fill(true);
    } else {
        std::size_t at = 0;
        while (at <= concepts.size()) {
            std::size_t comma = concepts.find(',', at);
            if (comma == std::string::npos) comma = concepts.size();
            int first = 0, last = 0;
            parseBounds(concepts.substr(at, comma - at), "concepts", 10, first, last);
            if (first < 1) throw UsageError("--concepts: concepts are numbered 1 to 10");
            for (int k = first; k <= last; ++k) s.concepts[static_cast<std::size_t>(k - 1)] = true;
            at = comma + 1;
        }
    }

    const std::string& target = p.positional[0];
    writeOutput(target, workFileText(s), out);
    if (target != kStandardStream) {
        char issue[3] = {static_cast<char>('0' + s.issueNumber / 10),
                         static_cast<char>('0' + s.issueNumber % 10), 0};
        out << target << ": work file for the issue of " << workFileLines(workFileText(s))[0]
            << ", issue number " << issue << "\n";
    }
}

}  // namespace nubodat
