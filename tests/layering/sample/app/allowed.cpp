// Allowed: the client uses common/.
#include "common/signalwatcher.h"
