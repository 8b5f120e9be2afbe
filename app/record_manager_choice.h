// Which record manager the data layer calls.
#pragma once

// Points the data layer at the record manager of this installation: on
// Windows the installed record manager's DLL (ending the program with the
// fatal message when it cannot be loaded); elsewhere the built-in engine
// linked into the program.
void chooseRecordManager();
