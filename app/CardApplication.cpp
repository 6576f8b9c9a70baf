#include "app/CardApplication.h"

#include "controls/CardIcons.h"
#include "controls/Composition.h"
#include "controls/UiException.h"
#include "controls/WindowFrame.h"
#include "data/Formats.h"

#include <QLibraryInfo>
#include <QTranslator>

TCardApplication::TCardApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // Chinese dates, weekdays and sizes, and Chinese date pickers, on any
    // system locale.
    QLocale::setDefault(ProgramLocale());
    // The pictures and the home page are embedded in the core library.
    InitCardResources();
    FrameDialogsClosingOnly(this);
    WatchCompositions(this);
}

bool TCardApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const EAbort&) {
    } catch (const std::exception& error) {
        CardException().HandleException(receiver, error);
    }
    return false;
}

void TCardApplication::LoadTranslations()
{
    auto* translator = new QTranslator(this);
    if (translator->load("qtbase_zh_CN", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(translator);
    else
        delete translator;
}
