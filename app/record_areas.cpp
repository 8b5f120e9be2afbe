#include "app/records.h"

unsigned char THRebutRecord[kTHRebutRecordSize];
unsigned char TRemesesRecord[kTRemesesRecordSize];
unsigned char FinquesHRecord[kFinquesHRecordSize];
unsigned char PropietHRecord[kPropietHRecordSize];
unsigned char CobramHRecord[kCobramHRecordSize];
