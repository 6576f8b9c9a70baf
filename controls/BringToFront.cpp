#include "controls/BringToFront.h"

#include <QApplication>
#include <QWidget>

void BringToFront(QWidget* window)
{
    if (window) {
        // Unlike showNormal(), this keeps a maximised window maximised.
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
        window->raise();
        window->activateWindow();
    }
    if (QWidget* modal = QApplication::activeModalWidget()) {
        // A dialog minimised on its own (the login's, say) is shown again too.
        modal->setWindowState(modal->windowState() & ~Qt::WindowMinimized);
        modal->raise();
        modal->activateWindow();
    }
}
