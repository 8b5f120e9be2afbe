#include "tools/layouts.h"

#include <algorithm>
#include <cctype>

#include "app/records.h"

namespace nubodat {
namespace {

std::vector<Field> ownerFields() {
    using namespace propiet;
    static const char* const flags[] = {"flag1", "flag2", "flag3", "flag4", "flag5",
                                        "flag6", "flag7", "flag8", "flag9", "flag10"};
    static const char* const periods[] = {"period1", "period2", "period3", "period4", "period5",
                                          "period6", "period7", "period8", "period9", "period10"};
    static const char* const amounts[] = {"amount1", "amount2", "amount3", "amount4", "amount5",
                                          "amount6", "amount7", "amount8", "amount9", "amount10"};
    std::vector<Field> f = {
        {"property", FieldKind::Number, ownerKey},
        {"owner", FieldKind::Number, ownerKey + 2},
        {"method", FieldKind::Letter, paymentMethod},
        {"series", FieldKind::Series, seriesHigh, seriesLow},
        {"moment", FieldKind::Letter, billingMoment},
    };
    for (int k = 1; k <= 8; ++k) {
        const std::size_t e = shortConcept(k);
        f.push_back({flags[k - 1], FieldKind::Letter, e + shortFlag});
        f.push_back({periods[k - 1], FieldKind::Int16, e + shortPeriod});
        f.push_back({amounts[k - 1], FieldKind::Int32, e + shortAmount});
    }
    f.push_back({"code9", FieldKind::Int16, longConcept(9) + longCode});
    f.push_back({flags[8], FieldKind::Letter, longConcept(9) + longFlag});
    f.push_back({periods[8], FieldKind::Int16, longConcept(9) + longPeriod});
    f.push_back({amounts[8], FieldKind::Int32, longConcept(9) + longAmount});
    f.push_back({"code10", FieldKind::Int16, longConcept(10) + longCode});
    f.push_back({flags[9], FieldKind::Letter, longConcept(10) + longFlag});
    f.push_back({periods[9], FieldKind::Int16, longConcept(10) + longPeriod});
    f.push_back({amounts[9], FieldKind::Int32, longConcept(10) + longAmount});
    return f;
}

const std::vector<Layout>& layouts() {
    static const std::vector<Layout> all = {
        {"properties",
         "FinquesH",
         {{"property", FieldKind::Number, finques::propertyNumber},
          {"cycleStartMonth", FieldKind::Int16, finques::cycleStartMonth},
          {"cycleMonths", FieldKind::Int16, finques::cycleMonths}}},
        {"owners", "PropietH", ownerFields()},
        {"collections",
         "CobramH",
         {{"property", FieldKind::Number, cobram::ownerKey},
          {"owner", FieldKind::Number, cobram::ownerKey + 2},
          {"issueDate", FieldKind::Date, cobram::issueDate},
          {"issueNumber", FieldKind::Issue, cobram::issueNumber},
          {"collectedDate", FieldKind::Date, cobram::collectedDate},
          {"total", FieldKind::Int32, cobram::totalAmount},
          {"flagged", FieldKind::Int32, cobram::flaggedAmount},
          {"state", FieldKind::Letter, cobram::state}}},
    };
    return all;
}

bool sameWord(const std::string& a, const char* b) {
    const std::string other(b);
    return a.size() == other.size() &&
           std::equal(a.begin(), a.end(), other.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// Which bytes of a record the fields cover.
std::vector<bool> covered(const Layout& layout, std::size_t recordLength) {
    std::vector<bool> c(recordLength, false);
    for (const Field& f : layout.fields)
        for (std::size_t i = 0; i < fieldWidth(f); ++i) c[fieldByteOffset(f, i)] = true;
    return c;
}

}  // namespace

std::size_t Layout::minRecordLength() const {
    std::size_t end = 0;
    for (const Field& f : fields)
        for (std::size_t i = 0; i < fieldWidth(f); ++i)
            end = std::max(end, fieldByteOffset(f, i) + 1);
    return end;
}

const Layout* findLayout(const std::string& name) {
    for (const Layout& l : layouts())
        if (sameWord(name, l.name) || sameWord(name, l.baseName)) return &l;
    return nullptr;
}

const Layout* layoutForPath(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\:");
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    base = base.substr(0, base.find('.'));
    for (const Layout& l : layouts())
        if (sameWord(base, l.baseName)) return &l;
    return nullptr;
}

std::vector<std::string> layoutColumns(const Layout& layout) {
    std::vector<std::string> names;
    for (const Field& f : layout.fields) names.emplace_back(f.name);
    names.emplace_back(kOtherColumn);
    return names;
}

std::string otherBytes(const Layout& layout, const std::string& record) {
    const std::vector<bool> c = covered(layout, record.size());
    std::string out;
    for (std::size_t i = 0; i < record.size(); ++i)
        if (!c[i]) out += record[i];
    return out;
}

void putOtherBytes(const Layout& layout, const std::string& bytes, std::string& record) {
    const std::vector<bool> c = covered(layout, record.size());
    std::size_t at = 0;
    for (std::size_t i = 0; i < record.size() && at < bytes.size(); ++i)
        if (!c[i]) record[i] = bytes[at++];
}

}  // namespace nubodat
