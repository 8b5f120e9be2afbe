// The operator's side of the program's fatal message, on the system console:
// the message box at row 12, the bell, one key, and the screen given back.
// Run on a pseudo-terminal by pty_fatal_test.sh.
//
//   message_driver [TEXT]
//
// The window stack goes to the folder named by JOBTMP; the colours are the
// session's defaults.
#include <string>

#include "console/console.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "session/session.h"

int main(int argc, char** argv) {
    platform::selectConsoleCodePage();
    sessionSettings.tmpDir = platform::getEnvironmentVariable("JOBTMP");
    if (!sessionSettings.tmpDir.empty() && sessionSettings.tmpDir.back() != '/' &&
        sessionSettings.tmpDir.back() != '\\')
        sessionSettings.tmpDir += '/';
    const std::int16_t defaults[5][2] = {{15, 0}, {7, 0}, {0, 7}, {0, 7}, {0, 7}};
    for (int slot = 0; slot < 5; ++slot) {
        sessionSettings.screenColours[slot][0] = defaults[slot][0];
        sessionSettings.screenColours[slot][1] = defaults[slot][1];
    }

    const platform::ConsoleBackend& con = platform::console();
    con.hideCursor();
    std::string text =
        argc > 1 ? platform::utf8ToOem(argv[1]) : "NO ES POT ACCEDIR AL FITXER DADES\\THRebut (20)";
    showMessageBox(12, text);
    con.beep();
    con.discardKeys();
    con.waitKey();
    popWindow();
    return 0;
}
