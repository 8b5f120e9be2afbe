// Conversions between the program's 8-bit text (console code page) and the
// wide characters of the Win32 interfaces. Internal to platform/win32.
#pragma once

#include <string>

namespace platform::win32 {

// The console code page in force (selected on first use).
unsigned int codePage();

// Console code-page text to wide characters, one character per byte.
std::wstring toWide(const std::string& oem);

// Wide characters to console code-page text; a character the code page
// cannot hold becomes "?" (no best-fit substitutes).
std::string fromWide(const std::wstring& wide);

}  // namespace platform::win32
