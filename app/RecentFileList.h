#pragma once
// The framework's recent-file list: at most four paths, kept in the user's
// settings under "Local AppWizard-Generated Applications" / "Orvane Tamsin
// DBF", section "Recent File List", entries File1 to File4. It is the only
// thing the program stores.

#include <QString>
#include <QStringList>

class CRecentFileList {
public:
    static constexpr int kDefaultSize = 4;
    static constexpr const char* kSection = "Recent File List";

    explicit CRecentFileList(int nSize = kDefaultSize);

    // Reads and writes the list in the program's settings.
    void ReadList();
    void WriteList() const;

    // Puts strPath first; an entry already there moves up, the oldest falls off.
    void Add(const QString& strPath);
    const QStringList& GetList() const { return m_list; }
    int GetSize() const { return m_nSize; }

private:
    int m_nSize;
    QStringList m_list;
};
