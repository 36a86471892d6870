#include "testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdlib>

namespace testenv {

namespace {
QTemporaryDir *tempHome = nullptr;
}

void isolateSettings()
{
    if (!tempHome) {
        // Lives for the whole test process; removed at exit by its destructor being skipped is
        // fine for CTest, but we clean up properly anyway.
        tempHome = new QTemporaryDir(QDir::tempPath() + "/taptempest-test-XXXXXX");
        std::atexit([] {
            delete tempHome;
            tempHome = nullptr;
        });
    }
    const QByteArray home = tempHome->path().toLocal8Bit();
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/.config");
    qputenv("XDG_DATA_HOME", home + "/.local/share");
    qputenv("XDG_CACHE_HOME", home + "/.cache");
    const QString runtime = tempHome->path() + "/runtime";
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

void setAppIdentity()
{
    QCoreApplication::setApplicationName("TapTempest");
    QCoreApplication::setApplicationVersion(QStringLiteral(TAPTEMPEST_VERSION));
    QCoreApplication::setOrganizationName("TapTempest");
}

void clearSettings()
{
    QSettings settings;
    settings.clear();
    settings.sync();
}

QString homeDir()
{
    return tempHome ? tempHome->path() : QString();
}

// CTest sets the variables; a test binary run by hand falls back to the folders it was built
// from.
QString sourceDir()
{
    return qEnvironmentVariable("TAPTEMPEST_SOURCE_DIR",
                                QStringLiteral(TAPTEMPEST_BUILT_SOURCE_DIR));
}

QString binaryDir()
{
    return qEnvironmentVariable("TAPTEMPEST_BINARY_DIR",
                                QStringLiteral(TAPTEMPEST_BUILT_BINARY_DIR));
}

} // namespace testenv
