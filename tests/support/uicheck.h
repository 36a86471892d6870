#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// What a player who reads only English, or who uses a screen reader, meets in a window.
namespace uicheck {

// Installs the English interface for the life of the object, then the Chinese one again.
class EnglishInterface
{
public:
    EnglishInterface();
    ~EnglishInterface();
    EnglishInterface(const EnglishInterface &) = delete;
    EnglishInterface &operator=(const EnglishInterface &) = delete;
    bool isInstalled() const { return installed; }

private:
    bool installed = false;
};

// Every text `window` shows or tells assistive technology: titles, labels, buttons, boxes,
// group titles, place-holders, tool tips, list, table and combo items, accessible names and
// descriptions.
QStringList textsShown(QWidget *window);

// The texts of `window` that hold Chinese characters once the `names` (players', effects' from
// the server) are taken out.
QStringList chineseTexts(QWidget *window, const QStringList &names = {});

// What a screen reader would announce without saying what it is, found through QAccessible from
// the window down: interactive elements (buttons, boxes, fields, lists, tables, their cells)
// without a name, and labels showing a figure whose name is only a number.
QStringList unnamedControls(QWidget *window);

// Visible labels, buttons and group titles narrower than their text needs, as
// "text: width < needed".
QStringList cutTexts(QWidget *window);

// Visible labels, buttons, group titles, table cells and list items whose text elision code
// shortened to fit (cutTexts cannot see those: the short text fits), as
// "text: shortened from full text".
QStringList shortenedTexts(QWidget *window);

} // namespace uicheck

// Fails the test with the list when it is not empty.
#define UI_CHECK_EMPTY(list)                                                                       \
    do {                                                                                           \
        const QStringList found_ = (list);                                                         \
        QVERIFY2(found_.isEmpty(), qPrintable(found_.join(QLatin1Char('\n'))));                    \
    } while (false)
