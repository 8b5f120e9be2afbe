// Session settings, gathered once at start-up from the environment and the
// suite's INI files, and the INI reader they are read with.
#pragma once

#include <cstdint>
#include <string>

struct SessionSettings {
    std::string rootDir;      // JOBROOT as it stands; expected to end in "\"
    std::string tmpDir;       // work directory, ending in "\" or ":" or empty
    std::string terminalDir;  // "Dir" of [Terminal] in Sessio.ini, else TERM
    // Five colour slots, each [0] foreground and [1] background (0-15).
    std::int16_t screenColours[5][2] = {};
    std::string languageCode = "   ";  // 3 characters: "CAT", "SPA", "GLG", "OCI" or blanks
};

// Filled by startSession; read by everyone afterwards.
extern SessionSettings sessionSettings;

// Fills sessionSettings from JOBROOT, JOBTMP, TERM, "Sessio.ini",
// "NuboTerm.ini" and "Nubo.ini". Never fails and never writes: anything
// missing reads as empty and takes its default.
void startSession();

// The value of `key` in the first section named `section` of the INI file at
// `path` (names compared without regard to case, both trimmed of spaces);
// "" when the file cannot be opened, the section or the key is absent, or
// the value is empty. Comments from ";" are removed; one pair of enclosing
// double quotes is removed from the value; nothing else is trimmed from it.
std::string readIniValue(const std::string& path, const std::string& section,
                         const std::string& key);
