// The process-wide session settings.
#include "session/session.h"

SessionSettings sessionSettings;
