// Load on the reference game server: click batches per second and request latency over
// kept-alive HTTPS connections on loopback, then click latency on many connections with and
// without a steady stream of logins (password checks are the server's costliest work). Starts
// its own server on a temporary data folder unless --url is given. With several --url (servers
// sharing one database), the connections of each case are spread over them in turn.
//
//   bench_serverload [--seconds 10] [--connections 1,16] [--batch 20]
//                    [--load-connections 64] [--logins-per-second 20]
//   bench_serverload --url https://127.0.0.1:8443/api/index.php --ca cert.pem --user U --password P
//   bench_serverload --url URL1 --ca CA1 --url URL2 --ca CA2 --user U --password P

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#ifndef TAPTEMPEST_SERVER_BINARY
#define TAPTEMPEST_SERVER_BINARY ""
#endif

namespace {

struct Target
{
    QString host;
    quint16 port = 0;
    QString path;
    QList<QSslCertificate> ca;
};

QByteArray httpRequest(const Target &target, const QByteArray &method, const QByteArray &query,
                       const QByteArray &body)
{
    QByteArray request = method + ' ' + target.path.toLatin1() + '?' + query + " HTTP/1.1\r\n";
    request += "Host: " + target.host.toLatin1() + "\r\n";
    if (!body.isEmpty())
        request +=
            "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
            "\r\n";
    return request + "\r\n" + body;
}

// Length of the first complete HTTP reply in `buffer` and its status, or 0 while incomplete.
qsizetype completeReply(const QByteArray &buffer, int *status)
{
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return 0;
    static const QRegularExpression lengthHeader(QStringLiteral("\\r\\ncontent-length:\\s*(\\d+)"),
                                                 QRegularExpression::CaseInsensitiveOption);
    const QString head = QString::fromLatin1(buffer.left(headEnd + 2));
    const QRegularExpressionMatch match = lengthHeader.match(head);
    const qsizetype total = headEnd + 4 + (match.hasMatch() ? match.captured(1).toLongLong() : 0);
    if (buffer.size() < total)
        return 0;
    *status = buffer.mid(9, 3).toInt();
    return total;
}

// One kept-alive connection sending click batches back to back.
class Connection : public QObject
{
public:
    // `continuous`: the next request leaves as soon as a reply is in; otherwise only on send().
    Connection(const Target &target, const QByteArray &request, std::vector<qint64> *latenciesNs,
               bool continuous = true)
        : m_target(target), m_request(request), m_latencies(latenciesNs), m_continuous(continuous)
    {
        QSslConfiguration config = m_socket.sslConfiguration();
        config.setCaCertificates(target.ca);
        config.setPeerVerifyMode(QSslSocket::VerifyPeer);
        m_socket.setSslConfiguration(config);
        connect(&m_socket, &QSslSocket::encrypted, this, [this] {
            m_ready = true;
            if (m_continuous)
                sendNext();
        });
        connect(&m_socket, &QIODevice::readyRead, this, &Connection::onReadyRead);
        connect(&m_socket, &QAbstractSocket::disconnected, this, [this] {
            m_ready = false;
            if (m_inFlight)
                ++m_errors;
            m_inFlight = false;
            if (!m_stopping) {
                ++m_reconnects;
                m_buffer.clear();
                open();
            }
        });
    }

    // The socket's last disconnected signal must not reach a half-destroyed connection.
    ~Connection() override
    {
        m_stopping = true;
        m_socket.disconnect(this);
    }

    void open() { m_socket.connectToHostEncrypted(m_target.host, m_target.port); }
    void stop() { m_stopping = true; }
    bool idle() const { return !m_inFlight; }
    bool ready() const { return m_ready && !m_inFlight && !m_stopping; }
    // Sends one request; false while the connection is busy or not open yet.
    bool send()
    {
        if (!ready())
            return false;
        sendNext();
        return true;
    }
    int errors() const { return m_errors; }
    int reconnects() const { return m_reconnects; }

private:
    void sendNext()
    {
        if (m_stopping || m_inFlight)
            return;
        m_inFlight = true;
        m_timer.start();
        m_socket.write(m_request);
    }

    void onReadyRead()
    {
        m_buffer += m_socket.readAll();
        int status = 0;
        const qsizetype length = completeReply(m_buffer, &status);
        if (length == 0)
            return;
        m_buffer.remove(0, length);
        m_latencies->push_back(m_timer.nsecsElapsed());
        if (status != 200)
            ++m_errors;
        m_inFlight = false;
        if (m_continuous)
            sendNext();
    }

    Target m_target;
    QByteArray m_request;
    std::vector<qint64> *m_latencies;
    QSslSocket m_socket;
    QByteArray m_buffer;
    QElapsedTimer m_timer;
    bool m_continuous = true;
    bool m_ready = false;
    bool m_inFlight = false;
    bool m_stopping = false;
    int m_errors = 0;
    int m_reconnects = 0;
};

double percentileMs(std::vector<qint64> &sorted, double p)
{
    if (sorted.empty())
        return 0;
    const size_t index = std::min(sorted.size() - 1, size_t(p * double(sorted.size() - 1) + 0.5));
    return double(sorted[index]) / 1e6;
}

// One per server; connection i goes to server i modulo their count.
struct Targets
{
    std::vector<Target> servers;
    // [server][account]: connection i clicks for account i modulo their count.
    std::vector<std::vector<QByteArray>> clickRequests;
    std::vector<QByteArray> loginRequests;

    const QByteArray &clickRequest(int connection, size_t server) const
    {
        const auto &perAccount = clickRequests[server];
        return perAccount[size_t(connection) % perAccount.size()];
    }
};

void runCase(const Targets &targets, int connections, int seconds)
{
    std::vector<qint64> latencies;
    latencies.reserve(200000);
    std::vector<std::unique_ptr<Connection>> pool;
    for (int i = 0; i < connections; ++i) {
        const size_t server = size_t(i) % targets.servers.size();
        pool.push_back(std::make_unique<Connection>(targets.servers[server],
                                                    targets.clickRequest(i, server), &latencies));
        pool.back()->open();
    }
    // Handshakes first, then measure from a clean start.
    QDeadlineTimer warmUp(5000);
    while (latencies.size() < size_t(connections) * 5 && !warmUp.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    latencies.clear();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000LL)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    const size_t measured = latencies.size();
    for (auto &connection : pool)
        connection->stop();
    QDeadlineTimer drain(5000);
    while (!drain.hasExpired() &&
           !std::all_of(pool.begin(), pool.end(), [](const auto &c) { return c->idle(); }))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

    int errors = 0;
    int reconnects = 0;
    for (const auto &connection : pool) {
        errors += connection->errors();
        reconnects += connection->reconnects();
    }
    std::vector<qint64> sorted(latencies.begin(), latencies.begin() + qsizetype(measured));
    std::sort(sorted.begin(), sorted.end());
    std::printf("%11d  %9zu  %9.0f  %8.2f  %8.2f  %8.2f  %8.2f  %6d  %10d\n", connections, measured,
                double(measured) / elapsed, percentileMs(sorted, 0.50), percentileMs(sorted, 0.90),
                percentileMs(sorted, 0.99), sorted.empty() ? 0.0 : double(sorted.back()) / 1e6,
                errors, reconnects);
    std::fflush(stdout);
}

struct LoadFigures
{
    size_t clicks = 0;
    double clickP50 = 0;
    double clickP99 = 0;
    double clickMax = 0;
    size_t logins = 0;
    double loginP50 = 0;
    double loginMax = 0;
    int errors = 0;
};

// `connections` connections send click batches back to back while, when `loginsPerSecond` > 0,
// logins arrive at that steady rate on connections of their own.
LoadFigures runLoginLoad(const Targets &targets, int connections, int loginsPerSecond, int seconds)
{
    std::vector<qint64> clickLatencies;
    std::vector<qint64> loginLatencies;
    clickLatencies.reserve(200000);
    std::vector<std::unique_ptr<Connection>> clickers;
    for (int i = 0; i < connections; ++i) {
        const size_t server = size_t(i) % targets.servers.size();
        clickers.push_back(std::make_unique<Connection>(
            targets.servers[server], targets.clickRequest(i, server), &clickLatencies));
        clickers.back()->open();
    }
    // Enough login connections that a slow login never holds up the next one.
    std::vector<std::unique_ptr<Connection>> loggers;
    const int loginConnections = loginsPerSecond > 0 ? qMax(4, loginsPerSecond) : 0;
    for (int i = 0; i < loginConnections; ++i) {
        const size_t server = size_t(i) % targets.servers.size();
        loggers.push_back(std::make_unique<Connection>(
            targets.servers[server], targets.loginRequests[server], &loginLatencies, false));
        loggers.back()->open();
    }
    QDeadlineTimer warmUp(10000);
    const auto loggersReady = [&] {
        return std::all_of(loggers.begin(), loggers.end(),
                           [](const auto &c) { return c->ready(); });
    };
    while ((clickLatencies.size() < size_t(connections) * 5 || !loggersReady()) &&
           !warmUp.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    clickLatencies.clear();

    QTimer loginTimer;
    int missed = 0;
    QObject::connect(&loginTimer, &QTimer::timeout, [&] {
        for (auto &logger : loggers) {
            if (logger->send())
                return;
        }
        ++missed; // every login connection still busy
    });
    loginTimer.setTimerType(Qt::PreciseTimer);
    if (loginsPerSecond > 0) {
        loginTimer.start(1000 / loginsPerSecond);
    }
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000LL)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    loginTimer.stop();
    const size_t measured = clickLatencies.size();
    for (auto &connection : clickers)
        connection->stop();
    for (auto &connection : loggers)
        connection->stop();
    QDeadlineTimer drain(10000);
    const auto allIdle = [](const auto &pool) {
        return std::all_of(pool.begin(), pool.end(), [](const auto &c) { return c->idle(); });
    };
    while (!drain.hasExpired() && !(allIdle(clickers) && allIdle(loggers)))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

    LoadFigures figures;
    for (const auto &connection : clickers)
        figures.errors += connection->errors();
    for (const auto &connection : loggers)
        figures.errors += connection->errors();
    figures.errors += missed;
    std::vector<qint64> clicks(clickLatencies.begin(),
                               clickLatencies.begin() + qsizetype(measured));
    std::sort(clicks.begin(), clicks.end());
    figures.clicks = clicks.size();
    figures.clickP50 = percentileMs(clicks, 0.50);
    figures.clickP99 = percentileMs(clicks, 0.99);
    figures.clickMax = clicks.empty() ? 0.0 : double(clicks.back()) / 1e6;
    std::sort(loginLatencies.begin(), loginLatencies.end());
    figures.logins = loginLatencies.size();
    figures.loginP50 = percentileMs(loginLatencies, 0.50);
    figures.loginMax = loginLatencies.empty() ? 0.0 : double(loginLatencies.back()) / 1e6;
    return figures;
}

void printLoad(const char *label, const LoadFigures &f, double seconds)
{
    std::printf("%-14s  %9zu  %9.0f  %8.2f  %8.2f  %8.2f  %7zu  %9.2f  %9.2f  %6d\n", label,
                f.clicks, double(f.clicks) / seconds, f.clickP50, f.clickP99, f.clickMax, f.logins,
                f.loginP50, f.loginMax, f.errors);
    std::fflush(stdout);
}

// Sends one request on a fresh connection and returns the reply body.
QByteArray exchangeOnce(const Target &target, const QByteArray &request)
{
    QSslSocket socket;
    QSslConfiguration config = socket.sslConfiguration();
    config.setCaCertificates(target.ca);
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    socket.setSslConfiguration(config);
    socket.connectToHostEncrypted(target.host, target.port);
    if (!socket.waitForEncrypted(10000))
        return QByteArray();
    socket.write(request);
    QByteArray buffer;
    int status = 0;
    qsizetype length = 0;
    while ((length = completeReply(buffer, &status)) == 0 && socket.waitForReadyRead(10000))
        buffer += socket.readAll();
    return length ? buffer.mid(buffer.indexOf("\r\n\r\n") + 4, length) : QByteArray();
}

bool runTool(const QString &binary, const QStringList &args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(binary, args);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

int fail(const QString &message)
{
    std::fprintf(stderr, "bench_serverload: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Load benchmark of taptempest-server."));
    parser.addHelpOption();
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("Length of each case (default 10)."),
                                           QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption connectionsOption(
        QStringLiteral("connections"),
        QStringLiteral("Comma-separated numbers of parallel connections (default 1,16)."),
        QStringLiteral("LIST"), QStringLiteral("1,16"));
    const QCommandLineOption batchOption(QStringLiteral("batch"),
                                         QStringLiteral("Clicks per batch (default 20)."),
                                         QStringLiteral("N"), QStringLiteral("20"));
    const QCommandLineOption serverOption(
        QStringLiteral("server"), QStringLiteral("Server binary to start."), QStringLiteral("PATH"),
        QStringLiteral(TAPTEMPEST_SERVER_BINARY));
    const QCommandLineOption urlOption(
        QStringLiteral("url"),
        QStringLiteral("Use this running server instead; repeat it for servers that share one "
                       "database."),
        QStringLiteral("URL"));
    const QCommandLineOption caOption(
        QStringLiteral("ca"),
        QStringLiteral("Certificate of the server given by --url: one for all, or one per --url."),
        QStringLiteral("FILE"));
    const QCommandLineOption userOption(
        QStringLiteral("user"),
        QStringLiteral("Account on the server given by --url; repeat it to spread the click "
                       "connections over several accounts."),
        QStringLiteral("NAME"));
    const QCommandLineOption passwordOption(QStringLiteral("password"),
                                            QStringLiteral("Password of --user."),
                                            QStringLiteral("PASSWORD"));
    const QCommandLineOption loadConnectionsOption(
        QStringLiteral("load-connections"),
        QStringLiteral("Click connections of the login-load case (default 64; 0 skips it)."),
        QStringLiteral("N"), QStringLiteral("64"));
    const QCommandLineOption loginRateOption(
        QStringLiteral("logins-per-second"),
        QStringLiteral("Logins per second in the login-load case (default 20)."),
        QStringLiteral("N"), QStringLiteral("20"));
    parser.addOptions({secondsOption, connectionsOption, batchOption, serverOption, urlOption,
                       caOption, userOption, passwordOption, loadConnectionsOption,
                       loginRateOption});
    parser.process(app);

    const int seconds = qMax(1, parser.value(secondsOption).toInt());
    const int batch = qMax(1, parser.value(batchOption).toInt());
    QList<int> connectionCounts;
    for (const QString &part : parser.value(connectionsOption).split(QLatin1Char(','))) {
        if (part.toInt() > 0)
            connectionCounts << part.toInt();
    }

    QStringList urls = parser.values(urlOption);
    QStringList caFiles = parser.values(caOption);
    // Several accounts: a game's players click on accounts of their own, each a row of its own.
    QStringList users = parser.values(userOption);
    QString password = parser.value(passwordOption);
    QTemporaryDir dataDir;
    QProcess server;
    if (urls.isEmpty()) {
        const QString binary = parser.value(serverOption);
        if (binary.isEmpty() || !QFile::exists(binary))
            return fail(QStringLiteral("no server binary; pass --server or --url"));
        users = QStringList{QStringLiteral("bench")};
        password = QStringLiteral("bench-password");
        if (!runTool(binary, {QStringLiteral("--data"), dataDir.path(),
                              QStringLiteral("--add-user"), users.first(), password}))
            return fail(QStringLiteral("could not add the benchmark account"));
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The allowance is lifted so that every batch does the full work of crediting.
        server.start(binary,
                     {QStringLiteral("--data"), dataDir.path(), QStringLiteral("--port"),
                      QStringLiteral("0"), QStringLiteral("--click-rate"), QStringLiteral("0")});
        QString output;
        static const QRegularExpression listening(QStringLiteral("listening on (\\S+)"));
        static const QRegularExpression certificate(QStringLiteral("certificate: (.+)\\n"));
        QDeadlineTimer deadline(30000);
        while (!listening.match(output).hasMatch() && !deadline.hasExpired() &&
               server.state() != QProcess::NotRunning) {
            server.waitForReadyRead(200);
            output += QString::fromLocal8Bit(server.readAllStandardOutput());
        }
        if (!listening.match(output).hasMatch())
            return fail(QStringLiteral("the server did not start: ") + output);
        urls = QStringList{listening.match(output).captured(1)};
        caFiles = QStringList{certificate.match(output).captured(1).trimmed()};
    }
    if (caFiles.size() != 1 && caFiles.size() != urls.size())
        return fail(QStringLiteral("give one --ca, or one per --url"));

    Targets targets;
    for (qsizetype i = 0; i < urls.size(); ++i) {
        const QUrl parsed(urls.at(i));
        Target target;
        target.host = parsed.host();
        target.port = quint16(parsed.port(443));
        target.path = parsed.path();
        const QString caFile = caFiles.at(caFiles.size() == 1 ? 0 : i);
        target.ca = QSslCertificate::fromPath(caFile);
        if (target.ca.isEmpty())
            return fail(QStringLiteral("no certificate in \"%1\"").arg(caFile));
        targets.servers.push_back(target);
    }
    const Target &target = targets.servers.front();

    if (users.isEmpty())
        return fail(QStringLiteral("--url needs --user"));
    const QByteArray loginBody =
        QJsonDocument(QJsonObject{{"username", users.first()}, {"password", password}}).toJson();
    // One session per account serves every server: they share the database.
    QList<QByteArray> clickBodies;
    for (const QString &user : users) {
        const QByteArray body =
            QJsonDocument(QJsonObject{{"username", user}, {"password", password}}).toJson();
        const QJsonObject login =
            QJsonDocument::fromJson(
                exchangeOnce(target, httpRequest(target, "POST", "action=login", body)))
                .object();
        const QString token = login.value("data").toObject().value("token").toString();
        if (token.isEmpty())
            return fail(QStringLiteral("login of %1 failed: %2")
                            .arg(user, login.value("message").toString()));
        clickBodies << QJsonDocument(QJsonObject{{"count", batch}, {"token", token}}).toJson();
    }
    for (const Target &server : targets.servers) {
        std::vector<QByteArray> perAccount;
        for (const QByteArray &body : clickBodies)
            perAccount.push_back(httpRequest(server, "POST", "action=click", body));
        targets.clickRequests.push_back(perAccount);
        targets.loginRequests.push_back(httpRequest(server, "POST", "action=login", loginBody));
    }

    std::printf("taptempest-server at %s, %lld account(s), click batches of %d, %d s per case, "
                "keep-alive HTTPS\n",
                qPrintable(urls.join(QLatin1String(", "))), qlonglong(users.size()), batch,
                seconds);
    std::printf(
        "connections    batches  batches/s    p50 ms    p90 ms    p99 ms    max ms  errors  "
        "reconnects\n");
    for (const int connections : connectionCounts)
        runCase(targets, connections, seconds);

    const int loadConnections = qMax(0, parser.value(loadConnectionsOption).toInt());
    const int loginRate = qBound(1, parser.value(loginRateOption).toInt(), 1000);
    if (loadConnections > 0) {
        std::printf("\n%d connections sending click batches, quiet and with %d logins/s\n",
                    loadConnections, loginRate);
        std::printf("case              batches  batches/s    p50 ms    p99 ms    max ms   logins  "
                    "login p50  login max  errors\n");
        printLoad("quiet", runLoginLoad(targets, loadConnections, 0, seconds), seconds);
        const QByteArray label = QByteArray::number(loginRate) + " logins/s";
        printLoad(label.constData(), runLoginLoad(targets, loadConnections, loginRate, seconds),
                  seconds);
    }

    if (server.state() != QProcess::NotRunning) {
        server.terminate();
        server.waitForFinished(10000);
    }
    return 0;
}
