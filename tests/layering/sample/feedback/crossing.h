// Click feedback reaching up into the window that holds it.
#include "mainwindow/mainwindow.h"
