// The embedded pictures and the picture buttons that show them.

#include "wizard/PictureButton.h"
#include "wizard/ResourceIds.h"
#include "wizard/Resources.h"

#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QtTest>

namespace {

// True when the image has at least one pixel that is not fully transparent.
bool HasInk(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                return true;
    return false;
}

void SendEnter(QWidget* pWidget)
{
    const QPointF pt(pWidget->width() / 2.0, pWidget->height() / 2.0);
    QEnterEvent event(pt, pt, pWidget->mapToGlobal(pt));
    QCoreApplication::sendEvent(pWidget, &event);
}

void SendLeave(QWidget* pWidget)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(pWidget, &event);
}

// Shows the widget with the mouse away from it (the offscreen platform may
// report the pointer inside a new window).
bool ShowAwayFromMouse(QWidget* pWidget)
{
    pWidget->show();
    const bool bExposed = QTest::qWaitForWindowExposed(pWidget);
    SendLeave(pWidget);
    return bExposed;
}

} // namespace

class PicturesTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { OrvInitResources(); }

    void everyPictureLoadsAtItsSize()
    {
        QSet<QString> names;
        for (int i = 0; i < kOrvPictureCount; ++i) {
            const auto picture = static_cast<OrvPicture>(i);
            const QString strName = OrvPictureName(picture);
            QVERIFY2(!names.contains(strName), qPrintable(strName));
            names.insert(strName);
            QSvgRenderer renderer(OrvPicturePath(picture));
            QVERIFY2(renderer.isValid(), qPrintable(strName));
            QCOMPARE(renderer.defaultSize(), OrvPictureSize(picture));
            const QPixmap pix = OrvPixmap(picture);
            QCOMPARE(pix.size(), OrvPictureSize(picture));
            QVERIFY2(HasInk(pix.toImage()), qPrintable(strName));
            QVERIFY(!OrvIcon(picture).isNull());
        }
        // Sharp on high-density screens: twice the pixels, same logical size.
        const QPixmap pix2 = OrvPixmap(OrvPicture::AddFiles, QSize(), 2.0);
        QCOMPARE(pix2.size(), QSize(116, 100));
        QCOMPARE(pix2.deviceIndependentSize().toSize(), QSize(58, 50));
    }

    // The resource file lists exactly the pictures the program knows.
    void resourceFileListsEveryPictureOnce()
    {
        const QString strQrc = QStringLiteral(ORV_SOURCE_DIR "/res/orvane.qrc");
        QFile file(strQrc);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString strText = QString::fromUtf8(file.readAll());
        QStringList listed;
        const QRegularExpression re(QStringLiteral("<file>pictures/([^<]+)\\.svg</file>"));
        for (auto it = re.globalMatch(strText); it.hasNext();)
            listed.append(it.next().captured(1));
        QStringList known;
        for (int i = 0; i < kOrvPictureCount; ++i)
            known.append(OrvPictureName(static_cast<OrvPicture>(i)));
        listed.sort();
        known.sort();
        QCOMPARE(listed, known);
        QStringList onDisk = QDir(QStringLiteral(ORV_SOURCE_DIR "/res/pictures"))
                                 .entryList({QStringLiteral("*.svg")}, QDir::Files);
        for (QString& str : onDisk)
            str.chop(4);
        onDisk.sort();
        QCOMPARE(onDisk, known);
    }

    void hoverPicturesDifferFromNormal_data()
    {
        QTest::addColumn<int>("normal");
        QTest::addColumn<int>("hover");
        const OrvPicture pairs[][2] = {{OrvPicture::AddFiles, OrvPicture::AddFilesHover},
                                       {OrvPicture::Repair, OrvPicture::RepairHover},
                                       {OrvPicture::Save, OrvPicture::SaveHover},
                                       {OrvPicture::Settings, OrvPicture::SettingsHover},
                                       {OrvPicture::Next, OrvPicture::NextHover},
                                       {OrvPicture::Back, OrvPicture::BackHover},
                                       {OrvPicture::Stop, OrvPicture::StopHover},
                                       {OrvPicture::HomePage, OrvPicture::HomePageHover}};
        for (const auto& pair : pairs)
            QTest::newRow(qPrintable(OrvPictureName(pair[0]))) << int(pair[0]) << int(pair[1]);
    }

    void hoverPicturesDifferFromNormal()
    {
        QFETCH(int, normal);
        QFETCH(int, hover);
        const auto picNormal = static_cast<OrvPicture>(normal);
        const auto picHover = static_cast<OrvPicture>(hover);
        QCOMPARE(OrvPictureSize(picNormal), OrvPictureSize(picHover));
        QVERIFY(OrvPixmap(picNormal).toImage() != OrvPixmap(picHover).toImage());
    }

    void pictureButtonShowsHoverWhileTheMouseIsOver()
    {
        CPictureButton button(OrvPicture::Repair, OrvPicture::RepairHover,
                              QStringLiteral("Repair File(s) selected in the list"), QSize(58, 50));
        button.SetCommandId(res::IDC_REPAIR);
        QVERIFY(ShowAwayFromMouse(&button));
        QVERIFY(!button.IsHovered());
        QCOMPARE(button.size(), QSize(58, 50));
        QCOMPARE(button.minimumSize(), button.maximumSize());
        QCOMPARE(button.toolTip(), QStringLiteral("Repair File(s) selected in the list"));
        QCOMPARE(button.GetCommandId(), res::IDC_REPAIR);

        const QImage imageNormal = button.grab().toImage();
        SendEnter(&button);
        QVERIFY(button.IsHovered());
        const QImage imageHover = button.grab().toImage();
        QVERIFY(imageNormal != imageHover);
        SendLeave(&button);
        QVERIFY(!button.IsHovered());
        QCOMPARE(button.grab().toImage(), imageNormal);

        // A disabled button shows no hover and is drawn faded.
        SendEnter(&button);
        button.setEnabled(false);
        QVERIFY(!button.IsHovered());
        QVERIFY(button.grab().toImage() != imageNormal);
    }

    void pictureButtonClicks()
    {
        CPictureButton button(OrvPicture::Next, OrvPicture::NextHover, QStringLiteral("Next"), QSize(50, 38));
        QVERIFY(ShowAwayFromMouse(&button));
        QSignalSpy spy(&button, &QAbstractButton::clicked);
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
        QTest::keyClick(&button, Qt::Key_Space);
        QCOMPARE(spy.count(), 2);
        button.setEnabled(false);
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(spy.count(), 2);
    }

    void pictureButtonWithOwnPixmaps()
    {
        QPixmap pixNormal(20, 10), pixHover(20, 10);
        pixNormal.fill(Qt::red);
        pixHover.fill(Qt::blue);
        CPictureButton button(pixNormal, pixHover, QStringLiteral("tip"), QSize(20, 10));
        QVERIFY(ShowAwayFromMouse(&button));
        QCOMPARE(QColor(button.grab().toImage().pixel(10, 5)), QColor(Qt::red));
        SendEnter(&button);
        QCOMPARE(QColor(button.grab().toImage().pixel(10, 5)), QColor(Qt::blue));
    }

    void homePageButton()
    {
        CHomePageButton button(QStringLiteral("Go to the software Homepage"));
        QVERIFY(ShowAwayFromMouse(&button));
        QCOMPARE(button.size(), QSize(133, 62));
        QCOMPARE(button.toolTip(), QStringLiteral("Go to the software Homepage"));
        QCOMPARE(button.cursor().shape(), Qt::PointingHandCursor);
        const QImage imageNormal = button.grab().toImage();
        SendEnter(&button);
        QVERIFY(button.grab().toImage() != imageNormal);
        QSignalSpy spy(&button, &QAbstractButton::clicked);
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
    }
};

QTEST_MAIN(PicturesTest)
#include "Pictures_test.moc"
