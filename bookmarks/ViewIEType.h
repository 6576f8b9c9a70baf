#pragma once

#include "groups/GroupChooser.h"

class QPushButton;

// The choose-group dialog of the bookmarks: the bookmark groups, with
// "新建分组" to add one under the selected group.
class TFormViewIEType : public TFormGroupChooser
{
    Q_OBJECT
public:
    explicit TFormViewIEType(QWidget* parent = nullptr);

private:
    void btn1Click();

    QPushButton* btn1 = nullptr;
};

// Lets the user choose a bookmark group. On OK, id is the chosen group and
// name its label ("全部" for the root); otherwise id is untouched and name empty.
int AskIEType(int& id, QString& name);

// The same under another caption (移动到), starting at the group id names
// (0: the root; -1: none). On OK, id is the chosen group; otherwise it is
// untouched.
int AskIETypeOf(const QString& caption, int& id);
