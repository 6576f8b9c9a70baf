#pragma once

#include <QApplication>

// The program's application object: every exception that escapes an event
// handler ends here and is shown by the one TCardException; the silent abort
// is swallowed.
class TCardApplication : public QApplication
{
    Q_OBJECT
public:
    TCardApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // Loads Qt's own Chinese texts for the standard buttons.
    void LoadTranslations();
};
