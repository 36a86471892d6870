#pragma once

#include <QString>
#include <QUrl>

// A fresh PostgreSQL database on the throwaway cluster that scripts/test starts
// (TAPTEMPEST_TEST_PG_URL, password in PGPASSWORD), dropped again when this goes. Test variants
// registered for PostgreSQL set TAPTEMPEST_TEST_STORE=postgresql.
class ScratchDatabase
{
public:
    ScratchDatabase() = default;
    ~ScratchDatabase();
    ScratchDatabase(const ScratchDatabase &) = delete;
    ScratchDatabase &operator=(const ScratchDatabase &) = delete;

    // Whether this run of the test is its PostgreSQL variant.
    static bool wanted();
    // Why there is no cluster to test on; empty when there is one. Tests skip with
    // skipMessage(), which CTest reports as skipped.
    static QString unavailableReason();
    static QByteArray skipMessage();

    // False with `error` when the cluster is there but the database cannot be made.
    bool create(QString *error);
    QUrl url() const { return m_url; }
    // Ends every connection to the database, as a database server restart would.
    bool dropConnections(QString *error);

private:
    bool runAdmin(const QString &statement, QString *error);

    QString m_name;
    QUrl m_url;
};
