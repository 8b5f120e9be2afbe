// The terminal as the system console on POSIX.
//
// A terminal cannot be read back, so the back end keeps its own screen model
// (sized from the terminal, 80 by 25 when it has none), which starts blank in
// the default colours; cells are read from the model, and every write goes
// into the model and, when standard output is a terminal, onto the terminal
// as ANSI sequences. Drawing starts on the terminal's alternate screen,
// cleared, so that the terminal shows what the model holds; leaving it at the
// end gives the operator's screen back as it was.
//
// When standard output is not a terminal, the rows that were written reach
// it as plain lines of text, before each wait for a key and at the end.
//
// Keys: a terminal on standard input is put in non-canonical mode without
// echo for the one key press and restored afterwards; other input gives one
// byte per key, and its end ends the wait.
//
// The terminal is left as it was found when the process ends, also on
// SIGINT, SIGTERM and SIGHUP: the cursor shown again, colours reset, the
// alternate screen left, the input mode restored.
#include <errno.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/platform.h"
#include "platform/posix/terminal_text.h"
#include "platform/screen_model.h"

namespace platform {
namespace {

// ------------------------------------------------ what the end restores
// Read by the signal handler, so plain flags and a saved termios only.

volatile sig_atomic_t g_cursorHidden = 0;
volatile sig_atomic_t g_coloursSet = 0;
volatile sig_atomic_t g_alternateScreen = 0;
volatile sig_atomic_t g_inputModeChanged = 0;
struct termios g_savedInputMode {};

void writeAll(const char* text, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, text, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // the terminal is gone
        text += n;
        size -= static_cast<std::size_t>(n);
    }
}

template <std::size_t N>
void writeLiteral(const char (&text)[N]) {
    writeAll(text, N - 1);
}

// Async-signal-safe: only write and tcsetattr.
void restoreTerminal() {
    if (g_inputModeChanged) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedInputMode);
        g_inputModeChanged = 0;
    }
    if (g_coloursSet) {
        writeLiteral("\x1b[0m");
        g_coloursSet = 0;
    }
    if (g_alternateScreen) {
        writeLiteral("\x1b[?1049l");
        g_alternateScreen = 0;
    }
    if (g_cursorHidden) {
        writeLiteral("\x1b[?25h");
        g_cursorHidden = 0;
    }
}

void onSignal(int signalNumber) {
    const int savedErrno = errno;
    restoreTerminal();
    errno = savedErrno;
    // The handler was installed with SA_RESETHAND: the signal raised again
    // takes its default action once this handler returns.
    ::raise(signalNumber);
}

// ------------------------------------------------ the screen and the terminal

struct Terminal {
    bool started = false;
    bool outputIsTerminal = false;
    bool inputIsTerminal = false;
    bool utf8 = false;
    ScreenModel screen;
    std::vector<bool> changedRows;  // rows not yet given to a plain output
};

Terminal g_terminal;

void put(const std::string& s) {
    writeAll(s.data(), s.size());
}

void flushReadableRows() {
    if (g_terminal.outputIsTerminal) return;
    put(terminal::readableRows(g_terminal.screen, g_terminal.changedRows, g_terminal.utf8));
}

void atExit() {
    flushReadableRows();
    restoreTerminal();
}

void installSignalHandler(int signalNumber) {
    struct sigaction old {};
    if (::sigaction(signalNumber, nullptr, &old) != 0) return;
    // Leave alone a signal that is ignored or already handled.
    if ((old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL) return;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    ::sigaction(signalNumber, &action, nullptr);
}

void start() {
    if (g_terminal.started) return;
    g_terminal.started = true;
    g_terminal.outputIsTerminal = ::isatty(STDOUT_FILENO) == 1;
    g_terminal.inputIsTerminal = ::isatty(STDIN_FILENO) == 1;
    g_terminal.utf8 =
        terminal::localeIsUtf8(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG"));
    int rows = 25, columns = 80;
    struct winsize ws {};
    if (g_terminal.outputIsTerminal && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 &&
        ws.ws_row > 0 && ws.ws_col > 0) {
        rows = ws.ws_row;
        columns = ws.ws_col;
    }
    g_terminal.screen.reset(rows, columns);
    g_terminal.changedRows.assign(static_cast<std::size_t>(g_terminal.screen.rows), false);
    std::atexit(atExit);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) installSignalHandler(s);
}

unsigned char g_drawnAttribute = 7;
// Where the terminal's cursor is; 0 when not known (after a write into the
// last column the terminal waits to wrap).
int g_terminalRow = 0;
int g_terminalColumn = 0;

void moveTerminalCursor(std::string& out, int row, int column) {
    if (row == g_terminalRow && column == g_terminalColumn) return;
    out += terminal::cursorSequence(row, column);
    g_terminalRow = row;
    g_terminalColumn = column;
}

// Switches to the alternate screen, cleared in the model's default colours,
// before the first thing is drawn.
void enterScreen(std::string& out) {
    if (g_alternateScreen) return;
    g_alternateScreen = 1;
    g_coloursSet = 1;
    out += "\x1b[?1049h";
    out += terminal::colourSequence(7);
    out += "\x1b[2J";
    g_terminalRow = 0;
    g_terminalColumn = 0;
}

// ------------------------------------------------ the primitives

void hideCursor() {
    start();
    if (!g_terminal.outputIsTerminal) return;
    g_cursorHidden = 1;
    writeLiteral("\x1b[?25l");
}

void windowSize(int& rows, int& columns) {
    start();
    rows = g_terminal.screen.rows;
    columns = g_terminal.screen.columns;
}

void getCursor(int& row, int& column) {
    start();
    row = g_terminal.screen.cursorRow;
    column = g_terminal.screen.cursorColumn;
}

void setCursor(int row, int column) {
    start();
    g_terminal.screen.moveCursor(row, column);
    if (g_terminal.outputIsTerminal && g_alternateScreen) {
        std::string out;
        moveTerminalCursor(out, g_terminal.screen.cursorRow, g_terminal.screen.cursorColumn);
        put(out);
    }
}

void readCell(int row, int column, unsigned char& character, unsigned char& attribute) {
    start();
    g_terminal.screen.cell(row, column, character, attribute);
}

void setColours(int foreground, int background) {
    start();
    g_terminal.screen.setColours(foreground, background);
}

void writeText(const std::string& oemText) {
    start();
    ScreenModel& screen = g_terminal.screen;
    const int row = screen.cursorRow;
    const int column = screen.cursorColumn;
    const std::size_t placed = screen.write(oemText);
    if (placed == 0) return;
    g_terminal.changedRows[static_cast<std::size_t>(row - 1)] = true;
    if (!g_terminal.outputIsTerminal) return;
    std::string out;
    const bool entering = !g_alternateScreen;
    enterScreen(out);
    if (entering || g_drawnAttribute != screen.attribute) {
        out += terminal::colourSequence(screen.attribute);
        g_drawnAttribute = screen.attribute;
    }
    moveTerminalCursor(out, row, column);
    out += terminal::displayText(oemText.substr(0, placed), g_terminal.utf8);
    const int after = column + static_cast<int>(placed);
    g_terminalColumn = after <= screen.columns ? after : 0;
    if (g_terminalColumn == 0) g_terminalRow = 0;
    put(out);
}

void discardKeys() {
    start();
    if (g_terminal.inputIsTerminal) ::tcflush(STDIN_FILENO, TCIFLUSH);
}

void waitKey() {
    start();
    flushReadableRows();
    if (g_terminal.inputIsTerminal) {
        struct termios mode {};
        if (::tcgetattr(STDIN_FILENO, &mode) == 0) {
            g_savedInputMode = mode;
            std::atomic_signal_fence(std::memory_order_seq_cst);  // saved before the flag says so
            mode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
            mode.c_cc[VMIN] = 1;
            mode.c_cc[VTIME] = 0;
            g_inputModeChanged = 1;
            ::tcsetattr(STDIN_FILENO, TCSANOW, &mode);
        }
    }
    char key = 0;
    while (::read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
    }
    if (g_inputModeChanged) {
        // The rest of a key that sends several bytes is no key of its own.
        ::tcflush(STDIN_FILENO, TCIFLUSH);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedInputMode);
        g_inputModeChanged = 0;
    }
}

void beepOnce() {
    start();
    if (g_terminal.outputIsTerminal) writeLiteral("\a");
}

const ConsoleBackend kTerminal = {hideCursor, windowSize, getCursor,   setCursor, readCell,
                                  setColours, writeText,  discardKeys, waitKey,   beepOnce};

}  // namespace

const ConsoleBackend& systemConsole() {
    return kTerminal;
}

}  // namespace platform
