#include "app/CommandLineInfo.h"

void CCommandLineInfo::ParseCommandLine(const QStringList& args)
{
    for (const QString& strArg : args) {
        // "/Embedding" is a switch, "/home/me/sales.dbf" a path: only the
        // known switch names count in the "/" form.
        const bool bDash = strArg.startsWith(QLatin1Char('-'));
        const bool bSlash = strArg.startsWith(QLatin1Char('/'));
        QString strName = strArg;
        while (strName.startsWith(QLatin1Char('-')))
            strName.remove(0, 1);
        if (bSlash)
            strName.remove(0, 1);
        if ((bDash || bSlash) && strName.compare(QLatin1String("Embedding"), Qt::CaseInsensitive) == 0) {
            m_bRunEmbedded = true;
            continue;
        }
        if ((bDash || bSlash) && strName.compare(QLatin1String("Automation"), Qt::CaseInsensitive) == 0) {
            m_bRunAutomated = true;
            continue;
        }
        if (bDash && (strName.compare(QLatin1String("iconic"), Qt::CaseInsensitive) == 0
                      || strName.compare(QLatin1String("minimized"), Qt::CaseInsensitive) == 0)) {
            m_bStartMinimized = true;
            continue;
        }
        if (bDash && strArg != QLatin1String("-")) {
            m_unknown << strArg;
            continue;
        }
        if (m_strFileName.isEmpty()) {
            m_strFileName = strArg;
            m_nShellCommand = FileOpen;
        } else {
            m_unknown << strArg;
        }
    }
}
