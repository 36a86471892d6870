#include "theme.h"

#include "net/appsettings.h"

#include <QApplication>
#include <QFile>
#include <QTextStream>

bool Theme::apply(QApplication *app, bool dark)
{
    QFile file(dark ? QStringLiteral(":/style.qss") : QStringLiteral(":/style_light.qss"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream stream(&file);
    app->setStyleSheet(stream.readAll());
    return true;
}

bool Theme::applySaved(QApplication *app)
{
    return apply(app, AppSettings::themeDark());
}
