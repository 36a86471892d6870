#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The game's own command-line options, --help and --version. Everything else on the command line
// is left to Qt's application object (-platform, -style, ...).
class CommandLine
{
public:
    // What the program prints and returns when the arguments ask for help or the version.
    struct Answer
    {
        QString text;
        int status = 0;
    };

    // Answers --help or --version on standard output, before any window or display is needed.
    // Returns the exit status then, nothing when the game should start.
    static std::optional<int> answer(int argc, char **argv);

    // The same for arguments (the program's path first); needs a QCoreApplication.
    static std::optional<Answer> answerFor(const QStringList &arguments);
};
