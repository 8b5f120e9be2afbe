// The fatal path of an open: the operator learns which file cannot be
// reached, presses a key, and the program ends.
#include <cstdlib>
#include <string>

#include "console/console.h"
#include "data/data.h"
#include "data/internal.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "session/session.h"

namespace {

// In the console code page (850): 0xE3 is "Ò", 0xD4 is "È".
const char* messageText(const std::string& languageCode) {
    if (languageCode == "SPA") return "NO SE PUEDE ACCEDER AL FICHERO ";
    if (languageCode == "GLG") return "NOM SE PODE ACEDER AO FICHEIRO ";
    if (languageCode == "OCI") return "NON SE P\xE3T ACCEDIR ATH FICH\xD4R ";
    return "NO ES POT ACCEDIR AL FITXER ";
}

}  // namespace

std::string fatalOpenMessage(const std::string& name, std::int16_t status) {
    return messageText(sessionSettings.languageCode) + name + " (" + std::to_string(status) + ")";
}

void showFatalMessage(const std::string& message) {
    std::string text = message;
    showMessageBox(12, text);
}

void removeFatalMessage() {
    popWindow();
}

void failOpen(const std::string& name, std::int16_t status) {
    showFatalMessage(fatalOpenMessage(name, status));
    platform::beep();
    platform::console().discardKeys();
    platform::console().waitKey();
    removeFatalMessage();
    // Plain files are opened and closed within one operation: none is open
    // here. The data files go with the record manager's Reset.
    std::int16_t closeStatus;
    closeAllDataFiles(closeStatus);
    std::exit(0);
}

void stopOnDamagedFile(std::int16_t fileNumber, std::int16_t status) {
    if (status != engine::status::ioError) return;
    const std::int16_t slot = registeredSlot(fileNumber);
    if (slot == 0) return;
    failOpen(openFileTable.entries[slot].name, status);
}
