#include "workerpool.h"

#include <QLoggingCategory>
#include <QProcess>
#include <QTimer>

#include <csignal>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

Q_LOGGING_CATEGORY(lcWorkers, "taptempest.server.workers")

namespace {

void diesWithParent()
{
#ifdef Q_OS_LINUX
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
}

} // namespace

WorkerPool::WorkerPool(const QString &program, const QStringList &arguments, int count,
                       QObject *parent)
    : QObject(parent), m_program(program), m_arguments(arguments), m_workers(size_t(count))
{
}

WorkerPool::~WorkerPool()
{
    stop();
}

void WorkerPool::start()
{
    for (int i = 0; i < int(m_workers.size()); ++i)
        startWorker(i);
}

void WorkerPool::startWorker(int index)
{
    if (m_stopping)
        return;
    Worker &worker = m_workers[size_t(index)];
    worker.output.clear();
    worker.listening = false;
    worker.process = std::make_unique<QProcess>();
    QProcess *process = worker.process.get();
    process->setProgram(m_program);
    process->setArguments(m_arguments);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->setChildProcessModifier(diesWithParent);
    connect(process, &QProcess::readyReadStandardOutput, this, [this, index] { onOutput(index); });
    connect(process, &QProcess::finished, this, [this, index] { onFinished(index); });
    process->start();
}

void WorkerPool::onOutput(int index)
{
    Worker &worker = m_workers[size_t(index)];
    worker.output += worker.process->readAllStandardOutput();
    const bool saysListening =
        worker.output.startsWith("listening on ") || worker.output.contains("\nlistening on ");
    if (worker.listening || !saysListening)
        return;
    worker.listening = true;
    if (m_announced) {
        qCInfo(lcWorkers, "worker %d serves again (pid %lld)", index + 1,
               worker.process->processId());
        return;
    }
    for (const Worker &each : m_workers) {
        if (!each.listening)
            return;
    }
    m_announced = true;
    emit listening();
}

void WorkerPool::onFinished(int index)
{
    Worker &worker = m_workers[size_t(index)];
    if (m_stopping)
        return;
    if (!worker.listening && !m_announced) {
        emit failed(QStringLiteral("worker %1 ended before it listened (status %2)")
                        .arg(index + 1)
                        .arg(worker.process->exitCode()));
        return;
    }
    qCWarning(lcWorkers, "worker %d ended (%s); starting it again", index + 1,
              worker.process->exitStatus() == QProcess::CrashExit ? "killed or crashed" : "exited");
    worker.listening = false;
    QTimer::singleShot(kRestartDelayMs, this, [this, index] { startWorker(index); });
}

void WorkerPool::stop()
{
    m_stopping = true;
    for (Worker &worker : m_workers) {
        if (worker.process && worker.process->state() != QProcess::NotRunning)
            worker.process->terminate();
    }
    for (Worker &worker : m_workers) {
        if (!worker.process)
            continue;
        if (worker.process->state() != QProcess::NotRunning &&
            !worker.process->waitForFinished(10000)) {
            worker.process->kill();
            worker.process->waitForFinished(5000);
        }
        worker.process->disconnect(this);
        worker.process.reset();
    }
}

QList<qint64> WorkerPool::processIds() const
{
    QList<qint64> ids;
    for (const Worker &worker : m_workers)
        ids << (worker.process ? worker.process->processId() : 0);
    return ids;
}
