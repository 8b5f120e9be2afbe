// Upper-casing of 8-bit text in the console code page, as INI section and key
// names are compared.
#pragma once

#include <string>

// `text` with a to z upper-cased, and the accented small letters of the
// console code page too: all of them for code page 850, those that have a
// capital in the code page for 437; other code pages get a to z only. Every
// other byte is kept.
std::string upperCaseText(const std::string& text);
