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

// Selects the console code page, then fills sessionSettings afresh from
// JOBROOT, JOBTMP, TERM, "Sessio.ini" (in the work directory), "NuboTerm.ini"
// (in tmpDir) and "Nubo.ini" (in rootDir, read only when "NuboTerm.ini"
// names no language). A directory text that is non-empty and ends in neither
// "\" nor ":" gets "\" appended (tmpDir and terminalDir; never rootDir). An
// empty directory leaves the bare file name, found in the current directory.
// Numbers ("Seleccio", the colour pairs) read as their leading number rounded
// into 16 bits, 0 when there is none. An empty colour text as a whole takes
// "15000700000700070007"; a short one gives 0 where it has no characters.
// Never fails and never writes: anything missing reads as empty and takes
// its default.
void startSession();

// The value of `key` in the first section named `section` of the INI file at
// `path` (names compared without regard to case, both trimmed of spaces);
// "" when the file cannot be opened, the section or the key is absent, or
// the value is empty. A line ends at CR or CR LF (a lone LF stays in the
// line); Ctrl-Z or a read error ends the data. Comments from the first ";"
// of a line are removed, then leading spaces (tabs are ordinary characters).
// A line beginning with "[" is a section header (name up to "]" or the end
// of the line); another line with "=" is a key line (name before the first
// "="). Key lines before the first header are never found; within the
// section the first matching key wins. One pair of enclosing double quotes
// is removed from the value; nothing else is trimmed from it. The file is
// opened for shared reading and closed within the call.
std::string readIniValue(const std::string& path, const std::string& section,
                         const std::string& key);
