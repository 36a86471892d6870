// The widget-free layer reaching up into a dialog.
#include "net/apiclient.h"
#include "dialogs/logindialog.h"
