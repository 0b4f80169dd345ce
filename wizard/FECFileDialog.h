#pragma once
// The open-file dialog of the Browse command and the rule that decides what
// a chosen or dropped file puts into the path box.

#include <QFileDialog>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class CFECFileDialog : public QFileDialog {
    Q_OBJECT
public:
    // The filter in the classic "text|pattern|...||" form.
    static constexpr const char* kFilter = "DBF Files(*.dbf)|*.dbf| All Files(*.*)|*.*||";
    static constexpr const char* kTitle = "Select corrupted file to repair...";

    // bOpenFileDialog: open (true) or save dialog; strDefExt: default
    // extension; strFileName: initial file name; strFilter: filter in the
    // classic form above.
    CFECFileDialog(bool bOpenFileDialog, const QString& strDefExt, const QString& strFileName,
                   const QString& strFilter, QWidget* pParent = nullptr);

    // Runs the dialog; QDialog::Accepted when a file was chosen.
    int DoModal();
    // Full path of the chosen file (empty before a file was chosen).
    QString GetPathName() const;

    // The classic filter turned into Qt name filters, one per entry: a text
    // that names its patterns is kept exactly, any other gets them appended.
    static QStringList FilterToNameFilters(const QString& strFilter);

    // The extension rule of Browse: the path box text for a chosen file, or
    // nothing when the file's extension is not "dbf" in any letter case.
    static std::optional<QString> PathBoxTextFor(const QString& strChosenPath);
    // The same rule for a drop: the path box text for a drop of one local
    // file it takes, or an empty text.
    static QString PathBoxTextForDrop(const class QMimeData* pMime);

    // The whole Browse command: runs the dialog (title, filter, single
    // selection) and, when a .dbf file was chosen, puts its full path into
    // strPathBox. Returns true when strPathBox was filled.
    static bool Browse(QWidget* pParent, QString& strPathBox);

    // Tests replace running the dialog: the runner gets the prepared dialog
    // (it may check it and select a file) and returns what exec() would.
    // An empty function restores the real dialog. Returns the previous one.
    using Runner = std::function<int(CFECFileDialog&)>;
    static Runner SetRunnerForTests(Runner runner);
};
