#include "app/record_manager_choice.h"

#ifdef _WIN32
#include "data/record_manager_dll.h"

void chooseRecordManager() {
    useRecordManagerDll();
}
#else
#include "data/data.h"
#include "engine/btrcall.h"

void chooseRecordManager() {
    setRecordManager(&BTRCALL);
}
#endif
