// A server header that reaches into the client.
#include "common/signalwatcher.h"
#include <dialogs/logindialog.h>
