#include "app/record_manager_choice.h"

#include "data/data.h"
#include "engine/btrcall.h"

void chooseRecordManager() { setRecordManager(&BTRCALL); }
