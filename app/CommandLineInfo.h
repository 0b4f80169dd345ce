#pragma once
// What the command line asks of the program: the framework's switches
// (-Embedding, -Automation, also written /Embedding and /Automation, in any
// letter case), -iconic to start minimised, and a table to put into the
// path box.

#include <QString>
#include <QStringList>

class CCommandLineInfo {
public:
    enum ShellCommand { FileNew, FileOpen };

    // Parses the arguments after the program name.
    void ParseCommandLine(const QStringList& args);

    ShellCommand m_nShellCommand = FileNew;
    // Started as an embedded or automation server: no window.
    bool m_bRunEmbedded = false;
    bool m_bRunAutomated = false;
    // Started minimised: no splash, the window shows minimised.
    bool m_bStartMinimized = false;
    // The file named on the command line (empty when none), as given.
    QString m_strFileName;
    // Arguments that were not understood.
    QStringList m_unknown;

    bool IsServerStart() const { return m_bRunEmbedded || m_bRunAutomated; }
};
