// The Settings dialog: opening with the current prefix, the two refusals with
// their messages, accepted prefixes, the 50-character limit, Cancel, and the
// "Restore deleted records" choice.

#include "wizard/MessageBoxService.h"
#include "wizard/Resources.h"
#include "wizard/SettingsDlg.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

struct ShownMessage {
    QString strCaption;
    QString strText;
    MsgButtons buttons;
    MsgIcon icon;
};

// Records every message instead of showing it, and answers OK.
class CSettingsTestMessages : public CMessageBoxService {
public:
    CSettingsTestMessages() { m_pPrevious = SetInstance(this); }
    ~CSettingsTestMessages() override { SetInstance(m_pPrevious); }
    MsgResult Show(QWidget*, const QString& strCaption, const QString& strText, MsgButtons buttons,
                   MsgIcon icon) override
    {
        m_aShown.push_back({strCaption, strText, buttons, icon});
        return MsgResult::Ok;
    }
    QList<ShownMessage> m_aShown;

private:
    CMessageBoxService* m_pPrevious;
};

const QString kCaption = QStringLiteral("Orvane Tamsin Vaviver eraza");

} // namespace

class SettingsDlgTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { OrvInitResources(); }

    void opensWithTheCurrentPrefix()
    {
        QString strPrefix = QStringLiteral("Rep");
        CSettingsDlg dlg(strPrefix);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Settings"));
        QCOMPARE(dlg.GetPrefixEdit()->text(), QStringLiteral("Rep"));
        QCOMPARE(dlg.GetPrefixEdit()->maxLength(), 50);
        QVERIFY(dlg.GetOkButton()->isDefault());
        QCOMPARE(dlg.GetOkButton()->text(), QStringLiteral("OK"));
        QCOMPARE(dlg.GetCancelButton()->text(), QStringLiteral("Cancel"));
        QLabel* pLabel = dlg.findChild<QLabel*>();
        QVERIFY(pLabel);
        QCOMPARE(pLabel->text(), QStringLiteral("File Name Prefix"));
    }

    void emptyPrefixIsRefused()
    {
        CSettingsTestMessages messages;
        QString strPrefix = QStringLiteral("Rep");
        CSettingsDlg dlg(strPrefix);
        dlg.show();
        dlg.GetPrefixEdit()->clear();
        QTest::mouseClick(dlg.GetOkButton(), Qt::LeftButton);
        QCOMPARE(messages.m_aShown.size(), 1);
        QCOMPARE(messages.m_aShown[0].strCaption, kCaption);
        QCOMPARE(messages.m_aShown[0].strText, QStringLiteral("Please fill prefix"));
        QCOMPARE(messages.m_aShown[0].buttons, MsgButtons::Ok);
        QCOMPARE(messages.m_aShown[0].icon, MsgIcon::Information);
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(strPrefix, QStringLiteral("Rep"));
    }

    void forbiddenCharactersAreRefused_data()
    {
        QTest::addColumn<QString>("prefix");
        for (const char ch : std::string_view("/\\|*:?<>'")) {
            const QString strPrefix = QStringLiteral("ab") + QChar::fromLatin1(ch) + QStringLiteral("cd");
            QTest::newRow(qPrintable(strPrefix)) << strPrefix;
        }
        QTest::newRow("only a colon") << QStringLiteral(":");
        QTest::newRow("apostrophe at the end") << QStringLiteral("Rep'");
    }

    void forbiddenCharactersAreRefused()
    {
        QFETCH(QString, prefix);
        CSettingsTestMessages messages;
        QString strPrefix = QStringLiteral("Rep");
        CSettingsDlg dlg(strPrefix);
        dlg.show();
        dlg.GetPrefixEdit()->setText(prefix);
        QTest::mouseClick(dlg.GetOkButton(), Qt::LeftButton);
        QCOMPARE(messages.m_aShown.size(), 1);
        QCOMPARE(messages.m_aShown[0].strCaption, kCaption);
        QCOMPARE(messages.m_aShown[0].strText, QStringLiteral("Illegal character found in file pre fix "));
        QCOMPARE(messages.m_aShown[0].buttons, MsgButtons::Ok);
        QCOMPARE(messages.m_aShown[0].icon, MsgIcon::Information);
        QVERIFY(dlg.isVisible());
        QCOMPARE(strPrefix, QStringLiteral("Rep"));
        // The text stays as typed for the user to correct.
        QCOMPARE(dlg.GetPrefixEdit()->text(), prefix);
        QCOMPARE(CSettingsDlg::CheckPrefix(prefix), CSettingsDlg::PrefixCheck::IllegalCharacter);
    }

    void acceptedPrefixesAreStoredAsTyped_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::newRow("space inside") << QStringLiteral("my files");
        QTest::newRow("leading and trailing spaces") << QStringLiteral("  padded ");
        QTest::newRow("double quote") << QStringLiteral("say\"so");
        QTest::newRow("other punctuation") << QStringLiteral("a.b-c_d(1)[2]{3}#%&+=;,!~");
        QTest::newRow("non-ASCII") << QString::fromUtf8("R\xC3\xA9par\xC3\xA9");
        QTest::newRow("fifty characters") << QString(50, QLatin1Char('x'));
        QTest::newRow("fifty two-byte characters") << QString(50, QChar(0x00E9));
    }

    void acceptedPrefixesAreStoredAsTyped()
    {
        QFETCH(QString, prefix);
        CSettingsTestMessages messages;
        QString strPrefix = QStringLiteral("Rep");
        CSettingsDlg dlg(strPrefix);
        dlg.show();
        dlg.GetPrefixEdit()->setText(prefix);
        QTest::mouseClick(dlg.GetOkButton(), Qt::LeftButton);
        QCOMPARE(messages.m_aShown.size(), 0);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(!dlg.isVisible());
        QCOMPARE(strPrefix, prefix);
    }

    void modalRunReturnsOkAndEnterPressesOk()
    {
        CSettingsTestMessages messages;
        QString strPrefix = QStringLiteral("Rep");
        CSettingsDlg dlg(strPrefix);
        QTimer::singleShot(0, &dlg, [&dlg]() {
            QLineEdit* pEdit = dlg.GetPrefixEdit();
            pEdit->selectAll();
            QTest::keyClicks(pEdit, QStringLiteral("Fixed"));
            QTest::keyClick(pEdit, Qt::Key_Return);
        });
        QCOMPARE(dlg.exec(), int(QDialog::Accepted));
        QCOMPARE(strPrefix, QStringLiteral("Fixed"));
        QCOMPARE(messages.m_aShown.size(), 0);
    }

    void fiftyFirstCharacterCannotBeTypedOrPasted()
    {
        QString strPrefix = QStringLiteral("Rep");
        CSettingsDlg dlg(strPrefix);
        dlg.show();
        QLineEdit* pEdit = dlg.GetPrefixEdit();
        pEdit->clear();
        QTest::keyClicks(pEdit, QString(60, QLatin1Char('t')));
        QCOMPARE(pEdit->text(), QString(50, QLatin1Char('t')));

        pEdit->clear();
        QGuiApplication::clipboard()->setText(QString(70, QLatin1Char('p')));
        pEdit->paste();
        QCOMPARE(pEdit->text().size(), 50);

        // Pasting into a full box adds nothing.
        pEdit->setText(QString(50, QLatin1Char('f')));
        pEdit->end(false);
        pEdit->paste();
        QCOMPARE(pEdit->text(), QString(50, QLatin1Char('f')));
    }

    void cancelKeepsThePreviousPrefix()
    {
        CSettingsTestMessages messages;
        QString strPrefix = QStringLiteral("Old");
        CSettingsDlg dlg(strPrefix);
        dlg.show();
        dlg.GetPrefixEdit()->setText(QStringLiteral("New"));
        QTest::mouseClick(dlg.GetCancelButton(), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(strPrefix, QStringLiteral("Old"));
        QCOMPARE(messages.m_aShown.size(), 0);

        // A refused entry followed by Cancel leaves it too.
        CSettingsDlg dlg2(strPrefix);
        dlg2.show();
        dlg2.GetPrefixEdit()->setText(QStringLiteral("a:b"));
        QTest::mouseClick(dlg2.GetOkButton(), Qt::LeftButton);
        QTest::keyClick(&dlg2, Qt::Key_Escape);
        QCOMPARE(dlg2.result(), int(QDialog::Rejected));
        QCOMPARE(strPrefix, QStringLiteral("Old"));

        // The next opening starts from the prefix in force.
        CSettingsDlg dlg3(strPrefix);
        QCOMPARE(dlg3.GetPrefixEdit()->text(), QStringLiteral("Old"));
    }

    // The check box opens as the caller's choice and is written back only by
    // an accepted OK, together with the prefix.
    void undeleteChoiceIsStoredOnAcceptedOkOnly_data()
    {
        QTest::addColumn<bool>("bBefore");
        QTest::addColumn<QString>("strTyped");
        QTest::addColumn<bool>("bPressOk");
        QTest::addColumn<bool>("bAfter");
        QTest::newRow("off, ticked, OK") << false << QStringLiteral("Rep") << true << true;
        QTest::newRow("on, unticked, OK") << true << QStringLiteral("Rep") << true << false;
        QTest::newRow("off, ticked, Cancel") << false << QStringLiteral("Rep") << false << false;
        QTest::newRow("on, unticked, Cancel") << true << QStringLiteral("Rep") << false << true;
        QTest::newRow("ticked, prefix refused, Escape") << false << QString() << true << false;
    }
    void undeleteChoiceIsStoredOnAcceptedOkOnly()
    {
        QFETCH(bool, bBefore);
        QFETCH(QString, strTyped);
        QFETCH(bool, bPressOk);
        QFETCH(bool, bAfter);
        CSettingsTestMessages messages;
        QString strPrefix = QStringLiteral("Rep");
        bool bUndelete = bBefore;
        CSettingsDlg dlg(strPrefix, bUndelete);
        dlg.show();
        QCheckBox* pCheck = dlg.GetUndeleteCheck();
        QVERIFY(pCheck->isVisible());
        QCOMPARE(pCheck->text(), QStringLiteral("Restore deleted records"));
        QCOMPARE(pCheck->isChecked(), bBefore);
        QTest::mouseClick(pCheck, Qt::LeftButton, {}, QPoint(4, pCheck->height() / 2));
        QCOMPARE(pCheck->isChecked(), !bBefore);
        dlg.GetPrefixEdit()->setText(strTyped);
        QTest::mouseClick(bPressOk ? dlg.GetOkButton() : dlg.GetCancelButton(), Qt::LeftButton);
        if (dlg.isVisible())
            QTest::keyClick(&dlg, Qt::Key_Escape);
        QCOMPARE(bUndelete, bAfter);
        QCOMPARE(dlg.result(), int(bAfter != bBefore ? QDialog::Accepted : QDialog::Rejected));
    }

    // A caller that keeps no such choice gets no check box.
    void prefixOnlyDialogHasNoCheckBox()
    {
        QString strPrefix = QStringLiteral("Rep");
        CSettingsDlg dlg(strPrefix);
        dlg.show();
        QVERIFY(dlg.GetUndeleteCheck()->isHidden());
    }

    void controlsFitInsideTheDialog()
    {
        QString strPrefix = QStringLiteral("Rep");
        bool bUndelete = false;
        CSettingsDlg dlg(strPrefix, bUndelete);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const QRect rectDialog = dlg.rect();
        for (QWidget* pChild : dlg.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            QVERIFY2(rectDialog.contains(pChild->geometry()), qPrintable(pChild->metaObject()->className()));
        QLabel* pLabel = dlg.findChild<QLabel*>();
        QVERIFY(pLabel->width() >= pLabel->sizeHint().width());
        // The label ends before the prefix box begins.
        QVERIFY(pLabel->geometry().right() < dlg.GetPrefixEdit()->geometry().left());
        // The check box sits under the prefix box, inside the frame, whole.
        QCheckBox* pCheck = dlg.GetUndeleteCheck();
        QVERIFY(pCheck->geometry().top() > dlg.GetPrefixEdit()->geometry().bottom());
        QVERIFY(pCheck->width() >= pCheck->sizeHint().width());
        QVERIFY(dlg.findChild<QGroupBox*>()->geometry().contains(pCheck->geometry()));
    }
};

QTEST_MAIN(SettingsDlgTest)
#include "SettingsDlg_test.moc"
