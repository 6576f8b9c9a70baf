#pragma once

#include <QDateTime>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

namespace Ui {
class TFormShowAlam;
}
class QPropertyAnimation;

// The two messages an alert posts to the main window, with the reminder's ID.
enum : int { WM_ALAM_DELETE = 0x401, WM_ALAM_SEEN = 0x402 };

// The main window registers the receiver of the alerts' messages. They are
// always posted, so the receiver handles them after the alert has closed, in
// the order the buttons were pressed; none is delivered once the context
// object is gone.
using TAlamMessageHandler = std::function<void(int message, int id)>;
void SetAlamMessageHandler(QObject* context, TAlamMessageHandler handler);
void PostAlamMessage(int message, int id);

// One reminder's alert: a small always-on-top window at the bottom right of
// the screen that rolls open, chimes and waits for one of its buttons. It is
// released when it closes.
class TFormShowAlam : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int RollHeight READ RollHeight WRITE SetRollHeight)
public:
    explicit TFormShowAlam(QWidget* parent = nullptr);
    ~TFormShowAlam() override;

    // Fills the alert; a daily one has the one button "看到了".
    void SetReminder(const QString& id, const QString& remark, bool daily);
    // The window's place: top = screen height - window height - 27,
    // left = screen width - window width + 2 for the first alert open;
    // alerts opened while others are open cascade up and to the left.
    void PlaceAtBottomRight();
    // Which place of the cascade the alert holds (0: the first).
    int CascadePlace() const { return m_cascade; }

    QString AlamID;
    bool ReDay = false;

    // The height shown so far while the window rolls open from its bottom.
    int RollHeight() const { return m_rollHeight; }
    void SetRollHeight(int height);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void btnOkSaveClick();
    void btnOkDelClick();
    void Confirm(int message);
    void RollOpen();

    std::unique_ptr<Ui::TFormShowAlam> ui;
    QPropertyAnimation* m_roll = nullptr;
    int m_rollHeight = 0;
    bool m_confirmed = false;
    bool m_activated = false; // the user has brought it to the front or clicked it
    QDateTime m_shownAt;
    QPointer<QWidget> m_previous; // the window active when it appeared
    int m_cascade = 0;
};

// Opens one more alert for the reminder and returns at once.
TFormShowAlam* ShowAlamAlert(const QString& id, const QString& remark, bool daily);
