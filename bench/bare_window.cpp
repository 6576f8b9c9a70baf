// The floor of the window's first paint on a display: a bare Qt window with
// a menu, a tree and a text, and nothing else. Given the moment its process
// was started (the system's monotonic clock, in milliseconds), it prints how
// long after that its window had painted for the first time, and ends.
#include <QApplication>
#include <QEvent>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdio>
#include <ctime>

namespace {
double MonotonicMs()
{
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Its labels are Chinese, as the program's are: a window that shows Chinese
// text loads the CJK font and its fallbacks.
struct TBareWindow : QWidget
{
    TBareWindow()
    {
        auto* layout = new QVBoxLayout(this);
        auto* menus = new QMenuBar;
        QMenu* menu = menus->addMenu("软件设置");
        menu->addAction("新建分组");
        menu->addAction("删除分组");
        layout->setMenuBar(menus);
        auto* tree = new QTreeWidget;
        tree->setHeaderHidden(true);
        tree->addTopLevelItem(new QTreeWidgetItem(QStringList("根目录")));
        auto* text = new QPlainTextEdit("记事本：每次按键都保存。");
        layout->addWidget(tree);
        layout->addWidget(text);
        resize(800, 520);
    }
};

// Says when the first paint, and the turn of the event loop that flushed
// it, ended.
class TFirstPaint : public QObject
{
public:
    explicit TFirstPaint(double startedMs) : m_startedMs(startedMs) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, qApp, [this] {
                std::printf("painted %.3f\n", MonotonicMs() - m_startedMs);
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return false;
    }

private:
    double m_startedMs;
};
} // namespace

int main(int argc, char** argv)
{
    const double started = argc > 1 ? QByteArray(argv[1]).toDouble() : MonotonicMs();
    QApplication app(argc, argv);
    TBareWindow window;
    TFirstPaint firstPaint(started);
    window.installEventFilter(&firstPaint);
    window.show();
    return app.exec();
}
