// Program entry: no arguments; the exit code is always 0.
#include "app/issue_run.h"

int main() { return runMainSequence(); }
