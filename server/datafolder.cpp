#include "datafolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {

// What start-up may create; anything else in the folder is never touched.
const char *const kStartupFiles[] = {"server.db",         "server.db-wal", "server.db-shm",
                                     "server.db-journal", "cert.pem",      "key.pem"};

bool isWritable(const QString &path)
{
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

} // namespace

QString DataFolder::lockFileName()
{
    return QStringLiteral("server.lock");
}

bool DataFolder::open(const QString &path, bool lock, QString *error)
{
    m_created = !QFileInfo::exists(path);
    if (!QDir().mkpath(path)) {
        *error = QStringLiteral("cannot create the data folder %1").arg(path);
        return false;
    }
    m_path = QDir(path).absolutePath();
    const QDir folder(m_path);
    for (const char *name : kStartupFiles) {
        if (QFileInfo::exists(folder.filePath(QLatin1String(name))))
            m_present << QLatin1String(name);
    }
    if (!lock)
        return true;

    if (!isWritable(m_path)) {
        *error = QStringLiteral("the data folder %1 is read-only; the server needs to create "
                                "files in it")
                     .arg(m_path);
        return false;
    }
    m_lock = std::make_unique<QLockFile>(folder.filePath(lockFileName()));
    // Held for the whole run: only a lock whose process is gone counts as stale, never its age.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return true;

    switch (m_lock->error()) {
    case QLockFile::LockFailedError: {
        qint64 pid = 0;
        QString host;
        QString app;
        if (m_lock->getLockInfo(&pid, &host, &app))
            *error = QStringLiteral("the data folder %1 is in use by another server (process %2 "
                                    "on %3); stop it or choose another --data folder")
                         .arg(m_path)
                         .arg(pid)
                         .arg(host.isEmpty() ? QStringLiteral("this machine") : host);
        else
            *error = QStringLiteral("the data folder %1 is in use by another server").arg(m_path);
        break;
    }
    case QLockFile::PermissionError:
        *error = QStringLiteral("the data folder %1 is read-only; the server needs to create "
                                "files in it")
                     .arg(m_path);
        break;
    default:
        *error = QStringLiteral("cannot lock the data folder %1").arg(m_path);
        break;
    }
    m_lock.reset();
    return false;
}

DataFolder::~DataFolder()
{
    // Only the holder of the lock may clean up: without it, another server may be writing here.
    if (!m_lock || m_keep)
        return;
    const QDir folder(m_path);
    for (const char *name : kStartupFiles) {
        if (!m_present.contains(QLatin1String(name)))
            QFile::remove(folder.filePath(QLatin1String(name)));
    }
    m_lock.reset(); // unlocks and removes the lock file
    if (m_created)
        QDir().rmdir(m_path); // only if nothing else is in it
}
