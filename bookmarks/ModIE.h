#pragma once

#include "bookmarks/BaseIE.h"

// The modify bookmark dialog: the stored values of one bookmark, written
// back over it on OK. It adds no control to the shared bookmark form.
class TFormModIE : public TFormBaseIE
{
    Q_OBJECT
public:
    explicit TFormModIE(TIE& store, QWidget* parent = nullptr);

    // The identifier of the bookmark being edited.
    QString EditID;
    // The address as it was loaded.
    QString LoadedUrl;

protected:
    void btnOKClick() override;

private:
    friend int AskModIE(TIE& store, const QString& id);
};

// Shows the modify dialog for bookmark id (as the grid gives it).
int AskModIE(TIE& store, const QString& id);
