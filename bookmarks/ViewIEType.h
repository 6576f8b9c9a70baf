#pragma once

#include "groups/BaseDlg.h"

namespace Ui {
class TFormViewIEType;
}
class QPushButton;
class TCardTree;

// The choose-group dialog: the bookmark groups as they are stored now, with
// "新建分组" to add one under the selected group. OK, Enter or a double-click
// chooses the selected group.
class TFormViewIEType : public TFormBaseDlg
{
    Q_OBJECT
public:
    explicit TFormViewIEType(QWidget* parent = nullptr);
    // The same chooser over another group table (the note groups): it
    // offers no "新建分组" there.
    TFormViewIEType(const QString& tableName, const QString& rootCaption, QWidget* parent = nullptr);
    ~TFormViewIEType() override;

    std::unique_ptr<TCardTree> GroupTree;
    // The group chosen with OK; 0 for the root.
    int ChosenTypeID = 0;
    // The group selected (and shown) when the dialog opens; -1: none.
    int StartTypeID = -1;

    // The label of the selected node, empty when nothing is selected.
    QString SelectedName() const;

protected:
    void showEvent(QShowEvent* event) override;
    void btnOKClick() override;

private:
    void FormCreate();
    void FormShow();
    void btn1Click();

    std::unique_ptr<Ui::TFormViewIEType> ui;
    QPushButton* btn1 = nullptr;
    bool m_loaded = false;
    QString m_tableName = "IEType";
    QString m_rootCaption = "全部";
};

// Lets the user choose a bookmark group. On OK, id is the chosen group and
// name its label ("全部" for the root); otherwise id is untouched and name empty.
int AskIEType(int& id, QString& name);

// How many bookmark groups the choose-group dialog has added in this run:
// a window that shows the group tree compares it before and after a
// dialog to know when to read the tree again.
int ChooserGroupsAdded();

// Lets the user choose a group of a group table, under the given caption,
// starting at the group id names (0: the root; -1: none). On OK, id is the
// chosen group (0 for the root); otherwise it is untouched.
int AskGroupOf(const QString& tableName, const QString& rootCaption, const QString& caption, int& id);
