#include "modalscript.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QInputDialog>

ModalScript::ModalScript()
{
    m_timer.setInterval(20);
    connect(&m_timer, &QTimer::timeout, this, &ModalScript::poll);
    m_timer.start();
}

ModalScript::~ModalScript() = default;

std::shared_ptr<ModalSeen> ModalScript::then(Action action)
{
    auto seen = std::make_shared<ModalSeen>();
    m_queue.enqueue({std::move(action), seen});
    return seen;
}

void ModalScript::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || modal == m_last || !modal->isVisible() || m_queue.isEmpty())
        return;
    Step step = m_queue.dequeue();
    m_last = modal;
    ModalSeen &seen = *step.seen;
    seen.seen = true;
    seen.className = QString::fromLatin1(modal->metaObject()->className());
    seen.title = modal->windowTitle();
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        seen.text = box->text();
        seen.textFormat = box->textFormat();
    } else if (auto *input = qobject_cast<QInputDialog *>(modal)) {
        seen.text = input->labelText();
        seen.intValue = input->intValue();
        seen.intMinimum = input->intMinimum();
        seen.intMaximum = input->intMaximum();
        seen.intStep = input->intStep();
    }
    step.action(modal);
}

ModalScript::Action ModalScript::press(QMessageBox::StandardButton button)
{
    return [button](QWidget *modal) {
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            if (QAbstractButton *b = box->button(button)) {
                b->click();
                return;
            }
        }
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
    };
}

ModalScript::Action ModalScript::enterInt(int value)
{
    return [value](QWidget *modal) {
        auto *input = qobject_cast<QInputDialog *>(modal);
        if (!input) {
            qobject_cast<QDialog *>(modal)->reject();
            return;
        }
        input->setIntValue(value);
        input->accept();
    };
}

ModalScript::Action ModalScript::reject()
{
    return [](QWidget *modal) {
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
    };
}
