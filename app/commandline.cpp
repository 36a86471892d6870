#include "commandline.h"

#include "net/apiclient.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

std::optional<int> CommandLine::answer(int argc, char **argv)
{
    std::optional<Answer> reply;
    if (QCoreApplication::instance()) {
        reply = answerFor(QCoreApplication::arguments());
    } else {
        // A core application only: it needs no display, and it is gone before the game's own
        // application object is made.
        QCoreApplication core(argc, argv);
        reply = answerFor(QCoreApplication::arguments());
    }
    if (!reply)
        return std::nullopt;
    std::fputs(reply->text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
    return reply->status;
}

std::optional<CommandLine::Answer> CommandLine::answerFor(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("TapTempest 点击游戏 (a clicker game)\n\n"
                       "TAPTEMPEST_SERVER_URL  游戏服务器地址 (the game server's endpoint), "
                       "default %1\n"
                       "TAPTEMPEST_CA_FILE     信任的服务器证书 (a PEM file of certificates to "
                       "trust)\n\n"
                       "Qt's own options (-platform, -style, ...) are accepted as well.")
            .arg(ApiClient::defaultEndpoint()));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    // Options the game does not know are Qt's, or nobody's: either way the game starts.
    parser.parse(arguments);

    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")))
        return Answer{parser.helpText(), 0};
    if (parser.isSet(version))
        return Answer{QStringLiteral("taptempest %1\n").arg(QStringLiteral(TAPTEMPEST_VERSION)), 0};
    return std::nullopt;
}
