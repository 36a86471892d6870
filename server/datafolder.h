#pragma once

#include <QLockFile>
#include <QString>
#include <QStringList>

#include <memory>

// The server's data folder for the length of one run. Serving takes the folder's lock, so that
// a second server on the same folder is refused instead of fighting over the database and the
// certificate; a lock left by a killed server is taken over. A start-up that fails (ends before
// keep()) removes what it created in the folder, and the folder itself when it made it.
class DataFolder
{
public:
    DataFolder() = default;
    ~DataFolder();
    DataFolder(const DataFolder &) = delete;
    DataFolder &operator=(const DataFolder &) = delete;

    // Creates the folder when needed and, with `lock`, takes its lock. False with `error` when
    // the folder cannot be made or written, or when another running server holds it.
    bool open(const QString &path, bool lock, QString *error);
    QString path() const { return m_path; }
    // Start-up succeeded: what it created stays.
    void keep() { m_keep = true; }

    static QString lockFileName();

private:
    QString m_path;
    bool m_created = false;
    bool m_keep = false;
    QStringList m_present; // entries there before start-up
    std::unique_ptr<QLockFile> m_lock;
};
