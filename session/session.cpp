// The session settings gathered at start-up.
#include <string>

#include "packed/packed.h"
#include "platform/platform.h"
#include "session/session.h"

SessionSettings sessionSettings;

namespace {

const char* const kDefaultColours = "15000700000700070007";

// A non-empty directory text gets "\" unless it already ends in "\" or ":".
std::string directoryText(std::string dir) {
    if (!dir.empty() && dir.back() != '\\' && dir.back() != ':') dir.push_back('\\');
    return dir;
}

std::int16_t numericValue(const std::string& text) {
    return roundToInt16(leadingNumber(text));
}

// The first three characters of `text`, padded with spaces.
std::string languageText(const std::string& text) {
    std::string code = text.substr(0, 3);
    code.resize(3, ' ');
    return code;
}

}  // namespace

void startSession() {
    platform::selectConsoleCodePage();
    SessionSettings s;

    s.rootDir = platform::getEnvironmentVariable("JOBROOT");
    s.tmpDir = directoryText(platform::getEnvironmentVariable("JOBTMP"));

    s.terminalDir = readIniValue(s.tmpDir + "Sessio.ini", "Terminal", "Dir");
    if (s.terminalDir.empty()) s.terminalDir = platform::getEnvironmentVariable("TERM");
    s.terminalDir = directoryText(s.terminalDir);
    if (s.tmpDir.empty()) s.tmpDir = s.terminalDir;

    const std::string terminalFile = s.tmpDir + "NuboTerm.ini";
    const std::int16_t selection = numericValue(readIniValue(terminalFile, "Pantalla", "Seleccio"));
    std::string colours = readIniValue(terminalFile, "Pantalla", "Col" + std::to_string(selection));
    if (colours.empty()) colours = kDefaultColours;
    for (std::size_t slot = 0; slot < 5; ++slot) {
        for (std::size_t side = 0; side < 2; ++side) {
            const std::size_t at = 4 * slot + 2 * side;
            s.screenColours[slot][side] =
                at < colours.size() ? numericValue(colours.substr(at, 2)) : std::int16_t{0};
        }
    }

    s.languageCode = languageText(readIniValue(terminalFile, "Sistema", "Idioma"));
    if (s.languageCode == "   ") {
        s.languageCode = languageText(readIniValue(s.rootDir + "Nubo.ini", "Usuari", "Idioma"));
    }

    sessionSettings = s;
}
