// Colour slots selected by letters, with a stack of saved slots.
#include <string>

#include "console/console.h"
#include "packed/packed.h"
#include "platform/console.h"
#include "session/session.h"

TextStyleState textStyleState;

namespace {

constexpr int kSlotCount = 5;

void upperCase(std::string& text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
}

bool contains(const std::string& text, char c) {
    return text.find(c) != std::string::npos;
}

}  // namespace

void setTextStyle(std::string& letters) {
    upperCase(letters);
    if (isFilledWith(letters, ' ') != 0) return;
    if (contains(letters, '+'))
        textStyleState.slotStack += static_cast<char>(textStyleState.currentSlot);
    int slot = 0;
    if (contains(letters, '-')) {
        if (!textStyleState.slotStack.empty()) {
            slot = static_cast<unsigned char>(textStyleState.slotStack.back());
            textStyleState.slotStack.pop_back();
        }
    } else if (contains(letters, 'U')) {
        slot = 4;
    } else {
        slot = (contains(letters, 'R') ? 2 : 0) + (contains(letters, 'N') ? 1 : 0);
    }
    // Only slots this function put on the stack are taken back, but the
    // state is open to all: a slot that is none of the five reads as slot 0.
    if (slot < 0 || slot >= kSlotCount) slot = 0;
    const std::int16_t* colours = sessionSettings.screenColours[slot];
    platform::console().setColours(colours[0], colours[1]);
    textStyleState.currentSlot = static_cast<std::int16_t>(slot);
}
