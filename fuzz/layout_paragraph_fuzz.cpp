// layoutParagraph on arbitrary text, indent, width and alignment. It must
// never crash or loop, and it never loses, adds or reorders a character of
// the text other than blanks: with blanks removed, the result reads as the
// text (dash-filled lines may add "-", which the text is then found among).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "console/console.h"

namespace {

std::string withoutBlanks(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c != ' ') out.push_back(c);
    }
    return out;
}

// Whether `part` is a subsequence of `whole` (greedy matching finds one
// whenever one exists).
bool isSubsequence(const std::string& part, const std::string& whole) {
    std::size_t i = 0;
    for (const char c : whole) {
        if (i < part.size() && part[i] == c) ++i;
    }
    return i == part.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto indent = input.ConsumeIntegral<std::int16_t>();
    const auto width = input.ConsumeIntegral<std::int16_t>();
    const std::string alignment = input.ConsumeRandomLengthString(3);
    // The result holds about width characters per line, one line or more
    // per character at worst: the text is kept short enough for the result
    // to stay near a million characters, so that runs stay fast.
    const std::size_t room = static_cast<std::size_t>(std::abs(width) + std::abs(indent)) + 1;
    const std::string text =
        input.ConsumeRandomLengthString(std::min<std::size_t>(600, 1000000 / room + 1));

    std::string laidOut = text;
    layoutParagraph(laidOut, indent, width, alignment);

    const std::string kept = withoutBlanks(laidOut);
    const std::string wanted = withoutBlanks(text);
    const bool dashes = alignment == "N" || alignment == "n";
    if (dashes ? !isSubsequence(wanted, kept) : kept != wanted) std::abort();
    return 0;
}
