#pragma once
// The single document of the program. It holds nothing but its title: the
// wizard works on files it names itself, never on the document.

#include <QObject>
#include <QString>

class CQuorvikDoc : public QObject {
    Q_OBJECT
public:
    explicit CQuorvikDoc(QObject* pParent = nullptr);

    // Starts the (one) new document: its title becomes "Orvane Tamsin".
    bool OnNewDocument();

    QString GetTitle() const { return m_strTitle; }
    void SetTitle(const QString& strTitle);

signals:
    void titleChanged(const QString& strTitle);

private:
    QString m_strTitle;
};
