#pragma once

#include "groups/BaseDlg.h"

#include <QSize>

class TGroupTable;

namespace Ui {
class TFormAddType;
}

// The group name dialog: shows where the new group goes and asks its name.
class TFormAddType : public TFormBaseDlg
{
    Q_OBJECT
public:
    explicit TFormAddType(QWidget* parent = nullptr);
    ~TFormAddType() override;

    void SetPosition(const QString& position);
    // The tree the name goes into: a name it already has is refused with
    // the dialog still open and the typed text kept.
    void SetGroups(const TGroupTable* groups) { m_groups = groups; }
    QString Name() const;

    // The size of the whole window, frame included.
    static constexpr QSize kOuterSize{374, 201};

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void btnOKClick() override;

private:
    void FormShow();
    void FitFrame();
    bool edtNameKeyDown(QKeyEvent* event);

    std::unique_ptr<Ui::TFormAddType> ui;
    bool m_frameFitted = false;
    const TGroupTable* m_groups = nullptr;
};

// Asks for a group's name; on OK the name is the text as typed, untrimmed,
// its line breaks made blanks. With the groups given, OK takes only a name
// they do not have yet.
int AskGroupName(const QString& position, QString& name, const TGroupTable* groups = nullptr);
