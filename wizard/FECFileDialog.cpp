#include "wizard/FECFileDialog.h"

#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

namespace {

CFECFileDialog::Runner& TestRunner()
{
    static CFECFileDialog::Runner runner;
    return runner;
}

} // namespace

CFECFileDialog::CFECFileDialog(bool bOpenFileDialog, const QString& strDefExt,
                               const QString& strFileName, const QString& strFilter,
                               QWidget* pParent)
    : QFileDialog(pParent)
{
    setAcceptMode(bOpenFileDialog ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    setFileMode(bOpenFileDialog ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (!strDefExt.isEmpty())
        setDefaultSuffix(strDefExt);
    const QStringList aFilters = FilterToNameFilters(strFilter);
    if (!aFilters.isEmpty())
        setNameFilters(aFilters);
    if (!strFileName.isEmpty())
        selectFile(strFileName);
}

int CFECFileDialog::DoModal()
{
    if (TestRunner())
        return TestRunner()(*this);
    return exec();
}

QString CFECFileDialog::GetPathName() const
{
    const QStringList aFiles = selectedFiles();
    if (aFiles.isEmpty())
        return QString();
    return QFileInfo(aFiles.first()).absoluteFilePath();
}

QStringList CFECFileDialog::FilterToNameFilters(const QString& strFilter)
{
    // "text|pattern|text|pattern||": pairs of a shown text and its patterns.
    const QStringList aParts = strFilter.split(QLatin1Char('|'));
    QStringList aFilters;
    for (qsizetype i = 0; i + 1 < aParts.size(); i += 2) {
        const QString& strText = aParts[i];
        if (strText.trimmed().isEmpty() && aParts[i + 1].trimmed().isEmpty())
            break;
        // A text that names its patterns in parentheses is the name filter
        // as it stands: the dialog reads the patterns from it.
        if (strText.trimmed().endsWith(QLatin1Char(')')) && strText.contains(QLatin1Char('('))) {
            aFilters.append(strText);
            continue;
        }
        // "*.*" means every file on the system the filter was written for;
        // here it would hide names without a dot.
        QStringList aPatterns = aParts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& strPattern : aPatterns) {
            strPattern = strPattern.trimmed();
            if (strPattern == QLatin1String("*.*"))
                strPattern = QStringLiteral("*");
        }
        aFilters.append(strText.trimmed() + QStringLiteral(" (") + aPatterns.join(QLatin1Char(' ')) + QLatin1Char(')'));
    }
    return aFilters;
}

std::optional<QString> CFECFileDialog::PathBoxTextFor(const QString& strChosenPath)
{
    // The extension is what follows the last "." of the file name (not of
    // the folders), compared as lower case.
    const QString strName = QFileInfo(strChosenPath).fileName();
    const qsizetype nDot = strName.lastIndexOf(QLatin1Char('.'));
    if (nDot < 0)
        return std::nullopt;
    if (strName.mid(nDot + 1).toLower() != QLatin1String("dbf"))
        return std::nullopt;
    return strChosenPath;
}

QString CFECFileDialog::PathBoxTextForDrop(const QMimeData* pMime)
{
    if (!pMime || !pMime->hasUrls())
        return QString();
    const QList<QUrl> urls = pMime->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile())
        return QString();
    const auto strText = PathBoxTextFor(urls.front().toLocalFile());
    return strText ? *strText : QString();
}

bool CFECFileDialog::Browse(QWidget* pParent, QString& strPathBox)
{
    CFECFileDialog dialog(true, QString(), QString(), QString::fromLatin1(kFilter), pParent);
    dialog.setWindowTitle(QString::fromLatin1(kTitle));
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.DoModal() != QDialog::Accepted)
        return false;
    const std::optional<QString> strText = PathBoxTextFor(dialog.GetPathName());
    if (!strText)
        return false;
    strPathBox = *strText;
    return true;
}

CFECFileDialog::Runner CFECFileDialog::SetRunnerForTests(Runner runner)
{
    Runner previous = std::move(TestRunner());
    TestRunner() = std::move(runner);
    return previous;
}
