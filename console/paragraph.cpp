// Word-wrapping and alignment of a paragraph.
//
// Positions follow the text, 1-based; a position beyond the text holds no
// character (neither a blank nor a control character). Control characters
// (codes below 32) are kept in the lines but take no room: each one widens
// its line by one.
#include "console/paragraph.h"

#include <algorithm>
#include <cstdlib>

#include "console/console.h"

namespace {

class Text {
public:
    explicit Text(const std::string& text) : text_(text), length_(static_cast<long>(text.size())) {}
    long length() const { return length_; }
    bool beyond(long p) const { return p < 1 || p > length_; }
    int at(long p) const {
        return beyond(p) ? -1 : static_cast<unsigned char>(text_[static_cast<std::size_t>(p - 1)]);
    }
    bool isControl(long p) const { return !beyond(p) && at(p) < 32; }
    bool isBlank(long p) const { return at(p) == ' '; }
    bool isAboveBlank(long p) const { return at(p) > ' '; }
    std::string slice(long p, long count) const {
        if (beyond(p)) return {};
        return text_.substr(static_cast<std::size_t>(p - 1), static_cast<std::size_t>(count));
    }

private:
    const std::string& text_;
    long length_;
};

std::string upperCased(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

// Widens `line` to `target` by inserting blanks into its gaps one at a time:
// the first at the first blank from position |indent| + 3, each next one
// after the gap just widened, starting again from |indent| + 1 when no
// blank follows, so the gaps grow left to right, round after round.
void justify(std::string& line, std::size_t target, std::size_t absIndent) {
    std::size_t from = absIndent + 2;
    while (line.size() < target) {
        std::size_t q = line.find(' ', from);
        if (q == std::string::npos) q = line.find(' ', absIndent);
        if (q == std::string::npos) return;  // no gap at all: callers rule this out
        line.insert(q, 1, ' ');
        from = line.find_first_not_of(' ', q);
        if (from == std::string::npos) from = line.size();
    }
}

void align(std::string& line, long c, const std::string& alignment, const Text& text, long p,
           long m, long absIndent) {
    const auto target = static_cast<std::size_t>(std::max(c, 0L));
    const std::size_t missing = target > line.size() ? target - line.size() : 0;
    if (alignment == "E" || alignment == "L" || alignment == "I") {
        line.append(missing, ' ');
    } else if (alignment == "N") {
        line.append(missing, '-');
    } else if (alignment == "D" || alignment == "R") {
        line.insert(0, missing, ' ');
    } else if (alignment == "C") {
        line.insert(0, missing / 2, ' ');
        line.append((missing + 1) / 2, ' ');
    } else if (alignment == "A" || alignment == "B") {
        const bool lastLine = text.length() <= p + m;
        const bool hasGap =
            line.find(' ', static_cast<std::size_t>(absIndent)) != std::string::npos;
        if (!lastLine && hasGap) justify(line, target, static_cast<std::size_t>(absIndent));
    }
}

}  // namespace

std::vector<std::string> layoutLines(const std::string& source, std::int16_t indent,
                                     std::int16_t width, const std::string& alignment) {
    const Text text(source);
    const std::string how = upperCased(alignment);
    const long absIndent = std::labs(indent);
    std::vector<std::string> lines;
    long p = 1;
    while (p <= text.length()) {
        const long lineIndent =
            lines.empty() ? std::max<long>(indent, 0) : std::max<long>(-indent, 0);
        // At least one character a line, so that every line makes progress.
        long c = std::max<long>(width - lineIndent, 1);
        long k = 0;
        while (k != c && p + k <= text.length()) {
            if (text.isControl(p + k)) ++c;
            ++k;
        }
        if (text.isAboveBlank(p + k - 1)) {
            while (p + k <= text.length() && text.isControl(p + k)) {
                ++c;
                ++k;
            }
        }
        long m = c;
        // A word that runs past the line moves to the next one.
        while (text.isAboveBlank(p + m) && m > 0) {
            if (text.isControl(p + m - 1)) --c;
            --m;
        }
        if (text.isControl(p + m) || text.beyond(p + m)) {
            while (m > 0 && text.isBlank(p + m - 1)) --m;
        }
        if (m < 1) m = c;  // a word longer than the line is cut
        if (m < 1) m = 1;
        std::string line(static_cast<std::size_t>(lineIndent), ' ');
        line += text.slice(p, m);
        c += lineIndent;
        align(line, c, how, text, p, m, absIndent);
        lines.push_back(std::move(line));
        p += m;
        while (text.isBlank(p)) ++p;
    }
    return lines;
}

void layoutParagraph(std::string& text, std::int16_t indent, std::int16_t width,
                     const std::string& alignment) {
    std::string laidOut;
    for (const std::string& line : layoutLines(text, indent, width, alignment)) laidOut += line;
    text = std::move(laidOut);
}
