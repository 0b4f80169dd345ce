#pragma once
// What the wizard's parts, the repair runner and the saving of the result,
// need of the view they work for. The view implements it, so that the
// parts need not know the view, nor the view's header the parts.

#include "wizard/MessageBoxService.h"

#include <QString>

class QWidget;
struct ViewSinkTargets;

class IWizardView {
public:
    // 0 the selection page, 1 the repair page.
    virtual int GetPage() const = 0;
    // The file-name prefix of saved tables.
    virtual QString GetPrefix() const = 0;
    // Whether runs bring records marked deleted back to life.
    virtual bool GetUndelete() const = 0;
    // Where a run's thread reports: the status line, progress bar, repair
    // log and preview grid.
    virtual ViewSinkTargets GetSinkTargets() = 0;
    // The window the dialogs of saving belong to.
    virtual QWidget* GetDialogParent() = 0;
    // A message box with the program's caption; owned by the view or by no
    // window.
    virtual MsgResult ShowMessage(const QString& strText, MsgButtons buttons, MsgIcon icon, bool bOwnedByView) = 0;

protected:
    ~IWizardView() = default;
};
