#pragma once

#include "groups/BaseDlg.h"

#include <memory>

namespace Ui {
class TFormGroupChooser;
}
class TCardTree;

// The choose-group dialog over a group table: its groups as they are stored
// now, the start group selected. OK, Enter or a double-click chooses the
// selected group.
class TFormGroupChooser : public TFormBaseDlg
{
    Q_OBJECT
public:
    TFormGroupChooser(const QString& tableName, const QString& rootCaption, QWidget* parent = nullptr);
    ~TFormGroupChooser() override;

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
    // For a chooser that adds groups to the table: counts one for
    // ChooserGroupsAdded.
    static void CountAddedGroup();

private:
    void FormShow();

    std::unique_ptr<Ui::TFormGroupChooser> ui;
    bool m_loaded = false;
};

// Lets the user choose a group in the chooser, under the given caption,
// starting at the group id names (0: the root; -1: none). On OK, id is the
// chosen group (0 for the root); otherwise it is untouched.
int AskGroupIn(TFormGroupChooser& dialog, const QString& caption, int& id);
// The same over a group table.
int AskGroupOf(const QString& tableName, const QString& rootCaption, const QString& caption, int& id);

// How many groups the choose-group dialogs have added in this run: a window
// that shows the group tree compares it before and after a dialog to know
// when to read the tree again.
int ChooserGroupsAdded();
