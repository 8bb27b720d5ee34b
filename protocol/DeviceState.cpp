#include "protocol/DeviceState.h"

// Every member has a constant initialiser, so the record is ready before any constructor runs.
DeviceStateRecord DeviceState;
