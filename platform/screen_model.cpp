// A screen kept in memory.
#include "platform/screen_model.h"

#include <algorithm>

namespace platform {

void ScreenModel::reset(int rowCount, int columnCount) {
    rows = std::max(rowCount, 1);
    columns = std::max(columnCount, 1);
    const auto cells = static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns);
    characters.assign(cells, ' ');
    attributes.assign(cells, 7);
    cursorRow = 1;
    cursorColumn = 1;
    attribute = 7;
}

void ScreenModel::moveCursor(int row, int column) {
    cursorRow = std::clamp(row, 1, rows);
    cursorColumn = std::clamp(column, 1, columns);
}

void ScreenModel::setColours(int foreground, int background) {
    const int fg = ((foreground % 16) + 16) % 16;
    const int bg = ((background % 16) + 16) % 16;
    attribute = static_cast<unsigned char>(fg | (bg << 4));
}

void ScreenModel::cell(int row, int column, unsigned char& character,
                       unsigned char& cellAttribute) const {
    if (!contains(row, column)) {
        character = ' ';
        cellAttribute = 7;
        return;
    }
    const auto i = static_cast<std::size_t>(row - 1) * static_cast<std::size_t>(columns) +
                   static_cast<std::size_t>(column - 1);
    character = characters[i];
    cellAttribute = attributes[i];
}

std::size_t ScreenModel::write(const std::string& text) {
    const auto room = static_cast<std::size_t>(columns - cursorColumn + 1);
    const std::size_t placed = std::min(text.size(), room);
    const auto start = static_cast<std::size_t>(cursorRow - 1) * static_cast<std::size_t>(columns) +
                       static_cast<std::size_t>(cursorColumn - 1);
    for (std::size_t k = 0; k < placed; ++k) {
        characters[start + k] = static_cast<unsigned char>(text[k]);
        attributes[start + k] = attribute;
    }
    cursorColumn = std::min(cursorColumn + static_cast<int>(placed), columns);
    return placed;
}

std::string ScreenModel::rowText(int row) const {
    if (row < 1 || row > rows) return {};
    const auto start = static_cast<std::size_t>(row - 1) * static_cast<std::size_t>(columns);
    return std::string(characters.begin() + static_cast<std::ptrdiff_t>(start),
                       characters.begin() +
                           static_cast<std::ptrdiff_t>(start + static_cast<std::size_t>(columns)));
}

}  // namespace platform
