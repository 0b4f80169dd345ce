#include "wizard/FolderChooser.h"

#include <QDir>
#include <QFileDialog>

namespace {

CFolderChooser g_defaultChooser;
CFolderChooser* g_pChooser = &g_defaultChooser;

} // namespace

QString CFolderChooser::ChooseFolder(QWidget* pParent, const QString& strTitle)
{
    // The folder browser starts at the top of the file system's namespace:
    // the user's home is where a Linux desktop's "top" begins.
    return QFileDialog::getExistingDirectory(pParent, strTitle, QDir::homePath(),
                                             QFileDialog::ShowDirsOnly);
}

CFolderChooser& CFolderChooser::Instance()
{
    return *g_pChooser;
}

CFolderChooser* CFolderChooser::SetInstance(CFolderChooser* pChooser)
{
    CFolderChooser* pOld = g_pChooser;
    g_pChooser = pChooser ? pChooser : &g_defaultChooser;
    return pOld;
}
