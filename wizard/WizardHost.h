#pragma once
// What the wizard view needs of the window that holds it: the settings of
// this session, which the Settings dialog changes, and a word when the view
// is first shown. The main frame is the host; a view without one uses the
// default settings and has no Settings command.

#include <QString>

class CQuorvikView;

class IWizardHost {
public:
    // The file-name prefix of saved tables; the Settings dialog writes it in
    // place.
    virtual QString& SavedPrefixSetting() = 0;
    // Repairs bring records marked deleted back to life; written in place
    // like the prefix.
    virtual bool& UndeleteSetting() = 0;
    // The view is painted for the first time.
    virtual void WizardViewShown(CQuorvikView* pView) = 0;

protected:
    ~IWizardHost() = default;
};
