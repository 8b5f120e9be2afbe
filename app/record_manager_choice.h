// Which record manager the data layer calls.
#pragma once

// Points the data layer at the record manager of this installation: the
// built-in engine linked into the program.
void chooseRecordManager();
