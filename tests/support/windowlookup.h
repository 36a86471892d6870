#pragma once

#include "support/modalscript.h"

#include <QString>

#include <functional>

class MainWindow;
class QPushButton;
class QWidget;

// Finding the game's windows and buttons the way a player would: by what is shown.
namespace windowlookup {

// The first push button below `parent` whose text is exactly `text`, or null.
QPushButton *buttonWithText(QWidget *parent, const QString &text);

// The main window now on screen, or null.
MainWindow *visibleMainWindow();

// Runs `step` on the main window once one is shown, from inside the event loop.
void whenMainWindowShown(std::function<void(MainWindow *)> step);

// Fills in the login dialog that is the modal widget and presses its login button.
ModalScript::Action logIn(const QString &user, const QString &password);

} // namespace windowlookup
