// A client file that reaches into the server.
#include "net/apiclient.h"
#include "../server/gameservice.h"
