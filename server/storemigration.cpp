#include "storemigration.h"

#include "gamedatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace {

struct Table
{
    const char *name;
    const char *columns;
    qint64 StoreMigration::Counts::*count;
};

// In the order the foreign keys need.
const Table kTables[] = {
    {"users",
     "id, username, password_hash, clicks, lifetime_clicks, gold, bank_balance, last_click_ms,"
     " created_ms",
     &StoreMigration::Counts::accounts},
    {"sessions", "token_hash, user_id, created_ms, expires_ms", &StoreMigration::Counts::sessions},
    {"owned_effects", "user_id, effect_id, bought_ms", &StoreMigration::Counts::effects},
    {"click_syncs", "user_id, sync_id, total, updated_ms", &StoreMigration::Counts::syncs},
    {"request_replies", "user_id, request_id, action, success, data, message, created_ms",
     &StoreMigration::Counts::replies},
};
const char *const kOtherTables[] = {"login_failures", "login_locks", "schema_version"};

QString text(const QSqlQuery &query)
{
    const QSqlError error = query.lastError();
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

// Rows, or tables that are not the game's: either way, not a database to copy into.
bool isEmpty(const QSqlDatabase &db, const QString &url, QString *error)
{
    QStringList ours;
    for (const Table &table : kTables)
        ours << QString::fromLatin1(table.name);
    for (const char *name : kOtherTables)
        ours << QString::fromLatin1(name);
    QStringList found;
    for (const QString &table : ours) {
        QSqlQuery count(db);
        if (!count.exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table)) || !count.next()) {
            *error = text(count);
            return false;
        }
        if (count.value(0).toLongLong() > 0 && table != QLatin1String("schema_version"))
            found << QStringLiteral("%1 rows in %2").arg(count.value(0).toLongLong()).arg(table);
    }
    QSqlQuery others(db);
    if (!others.exec(QStringLiteral("SELECT table_name FROM information_schema.tables"
                                    " WHERE table_schema = current_schema()"
                                    " AND table_name NOT IN ('%1')")
                         .arg(ours.join(QLatin1String("', '"))))) {
        *error = text(others);
        return false;
    }
    while (others.next())
        found << QStringLiteral("the table %1").arg(others.value(0).toString());
    if (found.isEmpty())
        return true;
    *error = QStringLiteral("%1 is not empty (%2); export only into a new, empty database")
                 .arg(url, found.join(QLatin1String(", ")));
    return false;
}

} // namespace

bool StoreMigration::copy(GameDatabase &from, GameDatabase &to, Counts *counts, QString *error)
{
    *counts = Counts();
    GameDatabase::Transaction target(to, "export");
    if (!target.isActive()) {
        *error = QStringLiteral("cannot start writing: %1").arg(target.lastError().text());
        return false;
    }
    QSqlDatabase out = to.connection();
    QStringList names;
    for (const Table &table : kTables)
        names << QString::fromLatin1(table.name);
    // A server starting on the database meanwhile waits until the copy is in.
    QSqlQuery lock(out);
    if (!lock.exec(QStringLiteral("LOCK TABLE %1 IN EXCLUSIVE MODE")
                       .arg(names.join(QLatin1String(", "))))) {
        *error = text(lock);
        return false;
    }
    if (!isEmpty(out, to.description(), error))
        return false;

    QSqlDatabase in = from.connection();
    QSqlQuery snapshot(in);
    if (!snapshot.exec(QStringLiteral("BEGIN"))) {
        *error = text(snapshot);
        return false;
    }
    bool copied = true;
    for (const Table &table : kTables) {
        const QString columns = QString::fromLatin1(table.columns);
        const int width = int(columns.count(QLatin1Char(','))) + 1;
        QSqlQuery read(in);
        read.setForwardOnly(true);
        if (!read.exec(
                QStringLiteral("SELECT %1 FROM %2").arg(columns, QLatin1String(table.name)))) {
            *error = QStringLiteral("reading %1: %2").arg(QLatin1String(table.name), text(read));
            copied = false;
            break;
        }
        QSqlQuery write(out);
        QStringList marks;
        for (int i = 0; i < width; ++i)
            marks << QStringLiteral("?");
        write.prepare(
            QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                .arg(QLatin1String(table.name), columns, marks.join(QLatin1String(", "))));
        while (copied && read.next()) {
            for (int i = 0; i < width; ++i)
                write.bindValue(i, read.value(i));
            if (!write.exec()) {
                *error =
                    QStringLiteral("writing %1: %2").arg(QLatin1String(table.name), text(write));
                copied = false;
            }
            ++(counts->*table.count);
        }
        if (!copied)
            break;
    }
    QSqlQuery(in).exec(QStringLiteral("ROLLBACK"));
    if (!copied)
        return false;
    // New accounts continue after the copied ids.
    QSqlQuery sequence(out);
    if (!sequence.exec(QStringLiteral("SELECT setval(pg_get_serial_sequence('users', 'id'),"
                                      " COALESCE(MAX(id), 0) + 1, false) FROM users"))) {
        *error = text(sequence);
        return false;
    }
    if (!target.commit()) {
        *error = QStringLiteral("cannot commit the copy: %1").arg(target.lastError().text());
        return false;
    }
    return true;
}
