#pragma once
// Asks the user for a destination folder. The program uses the desktop's
// folder dialog; tests install their own chooser to answer.

#include <QString>

class QWidget;

class CFolderChooser {
public:
    virtual ~CFolderChooser() = default;

    // Returns the chosen folder, or an empty text when the user cancelled.
    virtual QString ChooseFolder(QWidget* pParent, const QString& strTitle);

    // The chooser in use (the folder dialog unless replaced).
    static CFolderChooser& Instance();
    // Installs pChooser (nullptr restores the default); returns the previous.
    static CFolderChooser* SetInstance(CFolderChooser* pChooser);
};
