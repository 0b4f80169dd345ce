#pragma once
// The program's pictures. They are drawn as SVG files under res/pictures and
// embedded in the library through res/orvane.qrc; each picture's natural size
// is its SVG view box.

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

// Makes the embedded pictures reachable. orv_gui is a static library, so the
// program and every test call this once before the first picture is used.
void OrvInitResources();

enum class OrvPicture {
    // Top band of the wizard (229 pixels high): left and right pieces drawn
    // unscaled, the middle piece stretched horizontally between them.
    BannerLeft,
    BannerMiddle,
    BannerRight,
    // Middle band, stretched in both directions.
    Background,
    // Bottom band (100 pixels high): left piece stretched, right piece unscaled.
    FooterLeft,
    FooterRight,
    // Toolbar picture buttons, 58 x 50, normal and hover.
    AddFiles,
    AddFilesHover,
    Repair,
    RepairHover,
    Save,
    SaveHover,
    Settings,
    SettingsHover,
    // Wizard navigation picture buttons, 50 x 38, normal and hover.
    Next,
    NextHover,
    Back,
    BackHover,
    Stop,
    StopHover,
    // Home-page link, 133 x 62, normal and hover.
    HomePage,
    HomePageHover,
    // Splash picture, About box, Settings and Saving dialog backgrounds.
    Splash,
    AboutSkin,
    SettingsSkin,
    SavingSkin,
    // The program's icon.
    MainIcon,
    // 16 x 16 menu icons.
    MenuAddFiles,
    MenuSaveFiles,
    MenuExit,
    MenuSetting,
    MenuHelp,
    MenuAbout,
    MenuHomePage,
    // 16 x 16 heading icons of the file list, one per column.
    ListFileName,
    ListFileLocation,
    ListFileSize,
    ListCreationTime,
    ListLastAccessTime,
    ListLastWrittenTime,
    ListFileType,
};

inline constexpr int kOrvPictureCount = static_cast<int>(OrvPicture::ListFileType) + 1;

// File name of the picture without folder and extension ("banner_left").
QString OrvPictureName(OrvPicture picture);
// Qt resource path of the picture (":/orvane/pictures/banner_left.svg").
QString OrvPicturePath(OrvPicture picture);
// Natural size of the picture (its SVG view box).
QSize OrvPictureSize(OrvPicture picture);
// The picture rendered at sizeWanted (its natural size when empty), sharp on
// screens with a device pixel ratio of dDevicePixelRatio. Rendered pictures
// are cached. Returns a null pixmap only if the picture cannot be loaded.
QPixmap OrvPixmap(OrvPicture picture, QSize sizeWanted = QSize(), qreal dDevicePixelRatio = 1.0);
// The picture as an icon that scales cleanly (menus, window icon).
QIcon OrvIcon(OrvPicture picture);
