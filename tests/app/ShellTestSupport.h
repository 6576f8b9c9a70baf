#pragma once

#include "groups/BaseDlg.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <functional>

// Handles the modal windows that open while it lives, one preset action per
// appearance, and records their captions. A modal window nobody expected is
// cancelled (and recorded), so a wrong turn fails the test instead of hanging.
class TModalDriver
{
public:
    using TAction = std::function<void(QWidget*)>;
    QList<TAction> Actions;
    QStringList Captions;

    TModalDriver()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Tick(); });
        m_timer.start(5);
    }

    // Types a text into a dialog's edtPass and presses OK.
    static TAction Type(const QString& text)
    {
        return [text](QWidget* modal) {
            modal->findChild<QLineEdit*>("edtPass")->setText(text);
            qobject_cast<TFormBaseDlg*>(modal)->OkButton()->click();
        };
    }
    static TAction Cancel()
    {
        return [](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); };
    }

private:
    void Tick()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || m_busy)
            return;
        m_busy = true;
        Captions << modal->windowTitle();
        if (Actions.isEmpty())
            Cancel()(modal);
        else
            Actions.takeFirst()(modal);
        m_busy = false;
    }

    QTimer m_timer;
    bool m_busy = false;
};
