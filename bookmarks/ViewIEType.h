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
    ~TFormViewIEType() override;

    std::unique_ptr<TCardTree> GroupTree;
    // The group chosen with OK; 0 for the root.
    int ChosenTypeID = 0;

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
};

// Lets the user choose a bookmark group. On OK, id is the chosen group and
// name its label ("全部" for the root); otherwise id is untouched and name empty.
int AskIEType(int& id, QString& name);

// How many bookmark groups the choose-group dialog has added in this run:
// a window that shows the group tree compares it before and after a
// dialog to know when to read the tree again.
int ChooserGroupsAdded();
