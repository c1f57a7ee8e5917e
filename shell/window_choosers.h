/* The wizard's two choosers, each owned by the main window: the package
 * file on page one and the target folder on page two. Each puts the path
 * chosen into its read-only box and leaves the box as it was when the user
 * cancels. */
#ifndef LUMORA_WINDOW_CHOOSERS_H
#define LUMORA_WINDOW_CHOOSERS_H

/* The open-file dialog for .csv files, into csvPathBox. */
void chooseCsv(void);

/* The shell's folder browser, starting at targetFolderBox's folder and
 * allowing only folders with a file-system path, into targetFolderBox. */
void chooseFolder(void);

#endif
