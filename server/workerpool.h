#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QProcess;

// Runs `count` serving processes of this program, each listening on the same port
// (SO_REUSEPORT), and keeps them running: one that ends after it was listening, a crash or a
// kill, is started again after a second. Worker diagnostics go to this process's error output.
class WorkerPool : public QObject
{
    Q_OBJECT

public:
    WorkerPool(const QString &program, const QStringList &arguments, int count,
               QObject *parent = nullptr);
    ~WorkerPool() override; // stops the workers

    void start();
    // SIGTERM to every worker, then waits for them (SIGKILL after 10 s).
    void stop();
    QList<qint64> processIds() const;

    static const int kRestartDelayMs = 1000;

signals:
    void listening();                   // every worker listens
    void failed(const QString &reason); // a worker ended before it listened

private:
    struct Worker
    {
        std::unique_ptr<QProcess> process;
        QByteArray output;
        bool listening = false;
    };
    void startWorker(int index);
    void onOutput(int index);
    void onFinished(int index);

    QString m_program;
    QStringList m_arguments;
    std::vector<Worker> m_workers;
    bool m_announced = false;
    bool m_stopping = false;
};
