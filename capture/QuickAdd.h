#pragma once

#include <QWidget>
#include <functional>

class QLabel;
class QLineEdit;

// The field 快速添加 of the reminder page: a reminder typed in plain words
// ("明天下午3点 交报告"). While typing, the line beside it shows when the
// reminder would fire, or why the words are refused; Enter adds it through
// AddReminderFromWords and empties the field, a refusal keeps the words.
class TQuickAdd : public QWidget
{
public:
    // added runs after each reminder stored.
    explicit TQuickAdd(std::function<void()> added, QWidget* parent = nullptr);

    QLineEdit* Field() const { return m_field; }
    QLabel* Reading() const { return m_reading; }

private:
    void ShowReading();
    void Add();
    void ShowLine(const QString& text, bool refused);

    QLineEdit* m_field;
    QLabel* m_reading;
    std::function<void()> m_added;
};
