#pragma once

#include "bookmarks/BaseIE.h"

namespace Ui {
class TFormAddIE;
}

// The add bookmark dialog. With "保存后继续新建" checked, OK stores the
// bookmark and empties the fields for the next one in the same group.
class TFormAddIE : public TFormBaseIE
{
    Q_OBJECT
public:
    explicit TFormAddIE(TIE& store, QWidget* parent = nullptr);
    ~TFormAddIE() override;

    // The clipboard's whole text when it looks like a web address (holds
    // "http", "www", ".com", ".cn", ".net" or ".gov", letter case as
    // written), else empty.
    static QString GetClipboardUrl();
    // How many bookmarks this showing has stored.
    int SavedCount() const { return m_saved; }

protected:
    void btnOKClick() override;
    void ClearInput();

private:
    friend int AskNewIE(TIE& store, int typeId, const QString& typeName, int* saved);

    std::unique_ptr<Ui::TFormAddIE> addUi;
    int m_saved = 0;
};

// Shows the add dialog for group typeId (named typeName), its address
// proposed from the clipboard. saved, when given, receives how many
// bookmarks were stored, which may be some even when the result is Cancel.
int AskNewIE(TIE& store, int typeId, const QString& typeName, int* saved = nullptr);
