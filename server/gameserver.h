#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>

class ApiHandler;
class GuardedSslServer;
class QHttpServer;
class QSslConfiguration;

// HTTPS front of the game: one endpoint, "/api/index.php", every request handed to the
// ApiHandler and its envelope sent back as JSON.
class GameServer : public QObject
{
    Q_OBJECT

public:
    static const int kDefaultIdleTimeoutMs = 60000;

    explicit GameServer(ApiHandler &handler, QObject *parent = nullptr);
    ~GameServer() override;

    // Connections with no traffic for this long are closed; applies from the next listen().
    void setIdleTimeout(int ms) { m_idleTimeoutMs = ms; }

    // Lets several processes listen on one port (SO_REUSEPORT); the kernel spreads the
    // connections over them. Applies from the next listen().
    void setReusePort(bool on) { m_reusePort = on; }
    // A socket bound with SO_REUSEPORT, not listening: holds a port for the processes that will
    // listen on it. -1 with `error` when binding fails.
    static int bindReusePort(const QHostAddress &address, quint16 port, QString *error);
    static quint16 boundPort(int fd);

    // Port 0 picks a free port; port() tells which.
    bool listen(const QHostAddress &address, quint16 port, const QSslConfiguration &ssl,
                QString *error);
    quint16 port() const;
    // Stops accepting connections and drops the open ones.
    void close();

private:
    ApiHandler &m_handler;
    QHttpServer *m_http = nullptr;
    GuardedSslServer *m_listener = nullptr;
    int m_idleTimeoutMs = kDefaultIdleTimeoutMs;
    bool m_reusePort = false;
};
