// Shared code that depends on one side.
#include "app/application.h"
