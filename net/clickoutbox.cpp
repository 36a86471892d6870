#include "clickoutbox.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

#include <unistd.h>

Q_LOGGING_CATEGORY(lcOutbox, "taptempest.outbox")

namespace {

const int kVersion = 1;
QList<ClickOutbox *> openOutboxes;

bool wholeNumber(const QJsonValue &value, qint64 *out)
{
    if (!value.isDouble())
        return false;
    const double d = value.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 9.0e15)
        return false;
    *out = static_cast<qint64>(d);
    return true;
}

} // namespace

ClickOutbox::ClickOutbox(const QString &server, const QString &account)
    : m_path(filePath(server, account)), m_server(server), m_account(account)
{
    QMap<QString, Stored> onDisk;
    QList<QString> order;
    if (load(&onDisk, &order) == FileState::Read) {
        for (const QString &id : order) {
            const Stored stored = onDisk.value(id);
            Entry &e = entry(id);
            e.total = stored.total;
            e.confirmed = stored.total - stored.owed;
            m_inherited << e;
        }
        m_written = onDisk;
    }
    // What a killed session journaled after the file was last written.
    for (const Entry &found : readJournals(&m_journals)) {
        Entry &e = entry(found.syncId);
        const bool known = e.total > 0;
        e.total = qMax(e.total, found.total);
        e.confirmed = qMax(e.confirmed, found.confirmed);
        auto it = std::find_if(m_inherited.begin(), m_inherited.end(),
                               [&found](const Entry &i) { return i.syncId == found.syncId; });
        if (it != m_inherited.end())
            *it = e;
        else if (!known && e.owed() > 0)
            m_inherited << e;
    }
    m_inherited.removeIf([](const Entry &e) { return e.owed() <= 0; });
    openOutboxes << this;
}

ClickOutbox::~ClickOutbox()
{
    openOutboxes.removeAll(this);
}

QString ClickOutbox::accountKey(const QString &userId, const QString &username)
{
    return userId.isEmpty() ? QStringLiteral("name:") + username : QStringLiteral("id:") + userId;
}

QString ClickOutbox::filePath(const QString &server, const QString &account)
{
    const QByteArray hash =
        QCryptographicHash::hash((server + QLatin1Char('\n') + account).toUtf8(),
                                 QCryptographicHash::Sha256)
            .toHex()
            .left(32);
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/outbox/") + QString::fromLatin1(hash) + QStringLiteral(".json");
}

void ClickOutbox::saveAll()
{
    for (ClickOutbox *outbox : std::as_const(openOutboxes))
        outbox->save();
}

QString ClickOutbox::journalPath(const QString &syncId) const
{
    QString base = m_path;
    base.chop(int(qstrlen(".json")));
    return base + QLatin1Char('.') + syncId + QStringLiteral(".journal");
}

void ClickOutbox::journal(const QString &syncId, qint64 total)
{
    Entry &e = entry(syncId);
    if (total <= e.total && m_journals.contains(journalPath(syncId)))
        return;
    e.total = qMax(e.total, total);
    const QString path = journalPath(syncId);
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Opened for each line, so that a journal another window has folded in comes back.
    QFile file(path);
    const QByteArray line =
        QByteArray::number(e.total) + ' ' + QByteArray::number(e.confirmed) + '\n';
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(line) != line.size()) {
        qCWarning(lcOutbox, "cannot write the click journal %s: %s", qPrintable(path),
                  qPrintable(file.errorString()));
        return;
    }
    if (!m_journals.contains(path))
        m_journals << path;
}

void ClickOutbox::syncJournal()
{
    for (const QString &path : std::as_const(m_journals)) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            ::fsync(file.handle());
    }
}

QList<ClickOutbox::Entry> ClickOutbox::readJournals(QStringList *files) const
{
    QList<Entry> found;
    const QFileInfo info(m_path);
    const QString prefix = info.completeBaseName() + QLatin1Char('.');
    const QStringList names =
        info.dir().entryList({prefix + QStringLiteral("*.journal")}, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        const QString id = name.mid(prefix.size(), name.size() - prefix.size() - 8);
        QFile file(info.dir().filePath(name));
        if (id.isEmpty() || id.size() > 64 || !file.open(QIODevice::ReadOnly))
            continue;
        Entry e{id, 0, 0};
        // Each line holds the totals when it was written; a line cut off by a crash is skipped.
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            bool totalOk = false;
            bool confirmedOk = false;
            const qint64 total = parts.value(0).toLongLong(&totalOk);
            const qint64 confirmed = parts.value(1).toLongLong(&confirmedOk);
            if (parts.size() != 2 || !totalOk || !confirmedOk || total < 0 || confirmed < 0 ||
                confirmed > total)
                continue;
            e.total = qMax(e.total, total);
            e.confirmed = qMax(e.confirmed, confirmed);
        }
        *files << file.fileName();
        if (e.total > 0)
            found << e;
    }
    return found;
}

ClickOutbox::Entry &ClickOutbox::entry(const QString &syncId)
{
    auto it = m_entries.find(syncId);
    if (it == m_entries.end()) {
        m_order << syncId;
        it = m_entries.insert(syncId, Entry{syncId, 0, 0});
    }
    return it.value();
}

void ClickOutbox::record(const QString &syncId, qint64 total)
{
    Entry &e = entry(syncId);
    if (total > e.total)
        e.total = total;
    if (e.owed() > 0 && m_written.value(syncId).total < e.total)
        save();
}

void ClickOutbox::confirm(const QString &syncId, qint64 total)
{
    Entry &e = entry(syncId);
    e.confirmed = qMax(e.confirmed, total);
    e.total = qMax(e.total, e.confirmed);
    if (m_written.contains(syncId) || m_journals.contains(journalPath(syncId)))
        save();
}

ClickOutbox::FileState ClickOutbox::load(QMap<QString, Stored> *out, QList<QString> *order)
{
    QFile file(m_path);
    if (!file.exists())
        return FileState::Missing;
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcOutbox, "cannot read the click outbox %s: %s", qPrintable(m_path),
                  qPrintable(file.errorString()));
        return FileState::Unusable;
    }
    const QByteArray bytes = file.readAll();
    file.close();

    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    const QJsonObject root = doc.object();
    bool usable = doc.isObject() && root.value("version").toInt(0) == kVersion &&
                  root.value("server").toString() == m_server &&
                  root.value("account").toString() == m_account && root.value("sessions").isArray();
    QMap<QString, Stored> read;
    QList<QString> readOrder;
    if (usable) {
        for (const QJsonValue &value : root.value("sessions").toArray()) {
            const QJsonObject session = value.toObject();
            const QString id = session.value("sync_id").toString();
            Stored stored;
            if (id.isEmpty() || id.size() > 64 || read.contains(id) ||
                !wholeNumber(session.value("sync_total"), &stored.total) ||
                !wholeNumber(session.value("clicks"), &stored.owed) || stored.owed < 1 ||
                stored.owed > stored.total) {
                usable = false;
                break;
            }
            read.insert(id, stored);
            readOrder << id;
        }
    }
    if (!usable) {
        const QString aside =
            m_path + QStringLiteral(".corrupt-") +
            QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-hhmmss-zzz"));
        const bool moved = QFile::rename(m_path, aside);
        qCWarning(lcOutbox, "click outbox %s is corrupt; %s", qPrintable(m_path),
                  moved ? qPrintable(QStringLiteral("moved aside to ") + aside)
                        : "it could not be moved aside");
        return FileState::Unusable;
    }
    *out = read;
    *order = readOrder;
    return FileState::Read;
}

bool ClickOutbox::save()
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    // Another window of the same account may write the same file; read, merge and write as one.
    QLockFile lock(m_path + QStringLiteral(".lock"));
    lock.setStaleLockTime(5000);
    const bool locked = lock.tryLock(2000);

    QMap<QString, Stored> onDisk;
    QList<QString> diskOrder;
    const FileState state = load(&onDisk, &diskOrder);
    if (state != FileState::Unusable) {
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            Entry &e = it.value();
            const auto disk = onDisk.constFind(it.key());
            if (disk != onDisk.constEnd()) {
                // Whoever wrote more clicks or more confirmations knows more.
                e.total = qMax(e.total, disk->total);
                e.confirmed = qMax(e.confirmed, disk->total - disk->owed);
            } else if (m_written.contains(it.key()) && e.total <= m_written.value(it.key()).total) {
                // Gone from the file since we last saw it there: another window saw it confirmed.
                e.confirmed = e.total;
            }
        }
    }

    QMap<QString, Stored> owed;
    QJsonArray sessions;
    auto add = [&](const QString &id, const Stored &stored) {
        owed.insert(id, stored);
        sessions.append(
            QJsonObject{{"sync_id", id}, {"sync_total", stored.total}, {"clicks", stored.owed}});
    };
    for (const QString &id : std::as_const(m_order)) {
        const Entry &e = m_entries[id];
        if (e.owed() > 0)
            add(id, Stored{e.total, e.owed()});
    }
    for (const QString &id : std::as_const(diskOrder))
        if (!m_entries.contains(id))
            add(id, onDisk.value(id));

    bool ok = true;
    if (owed.isEmpty()) {
        if (QFile::exists(m_path) && !QFile::remove(m_path)) {
            qCWarning(lcOutbox, "cannot remove the click outbox %s", qPrintable(m_path));
            ok = false;
        }
    } else {
        const QJsonObject root{{"version", kVersion},
                               {"server", m_server},
                               {"account", m_account},
                               {"sessions", sessions}};
        QSaveFile file(m_path);
        if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(root).toJson()) < 0 ||
            !file.commit()) {
            qCWarning(lcOutbox, "cannot write the click outbox %s: %s", qPrintable(m_path),
                      qPrintable(file.errorString()));
            ok = false;
        }
    }
    if (ok) {
        m_written = owed;
        // The file now holds all the journals knew.
        for (const QString &journal : std::as_const(m_journals))
            QFile::remove(journal);
        m_journals.clear();
    }
    if (locked)
        lock.unlock();
    return ok;
}
