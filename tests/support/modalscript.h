#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

// What a scripted answer found when its modal widget appeared.
struct ModalSeen
{
    bool seen = false;
    QString className;
    QString title;
    QString text; // message box text or input dialog label
    Qt::TextFormat textFormat = Qt::AutoText;
    int intValue = 0;
    int intMinimum = 0;
    int intMaximum = 0;
    int intStep = 0;
};

// Answers modal widgets (message boxes, input dialogs, any modal dialog) as they appear, in
// order: each queued action runs once on the next new modal widget.
class ModalScript : public QObject
{
    Q_OBJECT

public:
    using Action = std::function<void(QWidget *)>;

    ModalScript();
    ~ModalScript() override;

    std::shared_ptr<ModalSeen> then(Action action);
    int remaining() const { return m_queue.size(); }

    static Action press(QMessageBox::StandardButton button);
    static Action enterInt(int value);
    static Action reject();

private:
    void poll();

    struct Step
    {
        Action action;
        std::shared_ptr<ModalSeen> seen;
    };
    QQueue<Step> m_queue;
    QPointer<QWidget> m_last;
    QTimer m_timer;
};
