/* The process-wide state of the Windows program: the main window and its
 * controls (created once by the layout, used by the window procedure, the
 * move job's view and the update notice) and the program's folder. They are
 * defined in window_layout.cpp. */
#ifndef LUMORA_SHELL_STATE_H
#define LUMORA_SHELL_STATE_H

#include <windows.h>

#include "platform.h"
#include "ptr_vector.h"

/* Control identifiers. */
enum {
    ID_PANEL = 36100,
    ID_CSV_PATH = 36102,
    ID_CHOOSE_CSV = 36103,
    ID_NOTICE = 36104,
    ID_OPT_IMAGE_SPACE = 36106,
    ID_OPT_OTHER_ALBUMS = 36107,
    ID_OPT_BLANK = 36108,
    ID_TARGET_FOLDER = 36109,
    ID_CHOOSE_FOLDER = 36110,
    ID_FAILURES = 36111,
    ID_TUTORIAL_LINK = 36112,
    ID_HOME_PAGE_LINK = 36114,
    ID_PREV = 36115,
    ID_NEXT = 36116,
    ID_CLOSE = 36117,
    ID_OPEN_REPORT = 36118,
    ID_OPEN_FOLDER = 36119,
};

/* The main window's class name; the window tests find the window by it, and tools outside may, so it stays. */
#define MAIN_WINDOW_CLASS "CodeBlocksWindowsApp"

struct Controls {
    HWND stepOnePanel, stepOneHeading, csvPathBox, chooseCsvButton, noticeBox;
    HWND stepTwoPanel, stepTwoHeading, optImageSpace, optOtherAlbums, optBlankForFailed;
    HWND targetFolderBox, chooseFolderButton, itemListView, openReportButton, openFolderButton, failureBox;
    HWND progressBar, progressLabel;
    HWND prevButton, nextButton, closeButton, tutorialLink, homePageLink;
};

extern HWND mainWindow;     /* owner of every message box once it exists */
extern Controls controls;
extern char appDir[PATH_SIZE]; /* the program's folder, set once at start */

#endif
