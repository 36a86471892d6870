#include "windowlookup.h"

#include "dialogs/logindialog.h"
#include "mainwindow/mainwindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace windowlookup {

QPushButton *buttonWithText(QWidget *parent, const QString &text)
{
    for (QPushButton *b : parent->findChildren<QPushButton *>())
        if (b->text() == text)
            return b;
    return nullptr;
}

MainWindow *visibleMainWindow()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *window = qobject_cast<MainWindow *>(w); window && window->isVisible())
            return window;
    return nullptr;
}

void whenMainWindowShown(std::function<void(MainWindow *)> step)
{
    auto *timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, step]() {
        if (MainWindow *window = visibleMainWindow()) {
            timer->stop();
            timer->deleteLater();
            step(window);
        }
    });
    timer->start();
}

ModalScript::Action logIn(const QString &user, const QString &password)
{
    return [user, password](QWidget *modal) {
        auto *dialog = qobject_cast<LoginDialog *>(modal);
        QVERIFY(dialog);
        dialog->findChild<QLineEdit *>("usernameEdit")->setText(user);
        dialog->findChild<QLineEdit *>("passwordEdit")->setText(password);
        dialog->findChild<QPushButton *>("primaryButton")->click();
    };
}

} // namespace windowlookup
