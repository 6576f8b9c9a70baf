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

// The messages an alert posts to the main window, with the reminder's ID
// (and for a snooze the minutes chosen).
enum : int { WM_ALAM_DELETE = 0x401, WM_ALAM_SEEN = 0x402, WM_ALAM_SNOOZE = 0x403 };

class QPushButton;

// The choices of "稍后提醒", in minutes, with their captions.
struct TSnoozeChoice
{
    int Minutes;
    const char* Caption;
};
inline constexpr TSnoozeChoice kSnoozeChoices[] = {{5, "5分钟"}, {10, "10分钟"}, {30, "30分钟"}, {60, "1小时"}};
// Gives the button the menu of choices; the one picked is handed on.
void AttachSnoozeMenu(QPushButton* button, std::function<void(int minutes)> chosen);

// The main window registers the receiver of the alerts' messages. They are
// always posted, so the receiver handles them after the alert has closed, in
// the order the buttons were pressed; none is delivered once the context
// object is gone.
using TAlamMessageHandler = std::function<void(int message, int id, int minutes)>;
void SetAlamMessageHandler(QObject* context, TAlamMessageHandler handler);
void PostAlamMessage(int message, int id, int minutes = 0);

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

    // Fills the alert; a daily one has the one button "看到了" (and "稍后提醒").
    void SetReminder(const QString& id, const QString& remark, bool daily);
    // The window's place: top = screen height - window height - 27,
    // left = screen width - window width + 2 for the first alert open;
    // alerts opened while others are open cascade up and to the left.
    void PlaceAtBottomRight();
    // Closes the alert without an answer of its own: the reminder was
    // answered or deleted elsewhere (on another computer, by a sync round).
    void Dismiss();
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
    void Snooze(int minutes);
    void Confirm(int message, int minutes = 0);
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

// The reminders whose alert is open: they are being answered, not missed.
QStringList AlertsOnScreen();

// Opens one more alert for the reminder and returns at once.
TFormShowAlam* ShowAlamAlert(const QString& id, const QString& remark, bool daily);
