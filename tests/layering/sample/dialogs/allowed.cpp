// Allowed: a dialog uses the layers below it.
#include "feedback/effectmanager.h"
#include "game/gamesession.h"
#include "net/apiclient.h"
#include "resources/theme.h"
