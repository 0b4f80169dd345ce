#pragma once
// Command and control ids of the desktop program. The wizard's controls
// carry the id of the command they send, as the toolbar buttons of the
// original resource script did, so a test can find a control by its id.

namespace res {

// Commands (menu entries, accelerators, buttons).
inline constexpr int ID_FILE_ADD = 61464;        // "Add Files...", Ctrl+A, Add Files button
inline constexpr int ID_FILE_SAVE = 61447;       // "Save Files", Ctrl+S
inline constexpr int ID_APP_EXIT = 57665;        // "E&xit"
inline constexpr int ID_TOOLS_SETTING = 61484;   // "Setting", Ctrl+T, Settings button
inline constexpr int ID_HELP_HELP = 32771;       // "Help", F1
inline constexpr int ID_APP_ABOUT = 57664;       // "&About Orvane Tamsin DBF..."
inline constexpr int ID_HELP_HOMEPAGE = 32773;   // "Software Home Page..."
inline constexpr int ID_NEXT_PANE = 57680;       // F6
inline constexpr int ID_PREV_PANE = 57681;       // Shift+F6

// Controls of the wizard view.
inline constexpr int IDC_PROGRESS = 1;
inline constexpr int IDC_NEXT = 61452;           // Next: repair, or save on the result page
inline constexpr int IDC_PREVIEW_GRID = 61453;
inline constexpr int IDC_REPAIR_LOG = 61454;
inline constexpr int IDC_BACK = 61455;
inline constexpr int IDC_HOMEPAGE = 61456;
inline constexpr int IDC_SAVE = 61460;           // toolbar Save button
inline constexpr int IDC_STOP = 61461;
inline constexpr int IDC_HELP_TEXT = 61462;
inline constexpr int IDC_REPAIR = 61466;         // toolbar Repair button
inline constexpr int IDC_PATH = 61481;
inline constexpr int IDC_BROWSE = 61482;
inline constexpr int IDC_STATUS = 61483;
inline constexpr int IDC_ADD_FILES = ID_FILE_ADD;
inline constexpr int IDC_SETTINGS = ID_TOOLS_SETTING;

// Dialog templates.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_SPLASH = 267;

// Texts the shell and the message boxes share.
inline constexpr const char* kAppTitle = "Orvane Tamsin DBF";
inline constexpr const char* kDocTitle = "Orvane Tamsin";
inline constexpr const char* kFrameTitle = "DBF";
inline constexpr const char* kRegistryRoot = "Local AppWizard-Generated Applications";
inline constexpr const char* kHelpFileName = "Orvane Tamsin for DBF.chm";
inline constexpr const char* kHomePageUrl =
    "https://www.orvanetamsin.com/RED-Azudaduva-Zeze-Zovizudi-Vazadodi.php";

} // namespace res
