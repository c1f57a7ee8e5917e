/* Local names for downloaded images: the job's start time and a process-wide
 * counter, "Y-M-D-h-m-n" for description images and "m-Y-M-D-h-m-n" for
 * mobile-details images, with an extension taken from the link. A name is
 * claimed, not guessed: its file is created, where none stands, before the
 * image is fetched, so moves into one folder at once never share one. */
#ifndef LUMORA_LOCAL_NAMING_H
#define LUMORA_LOCAL_NAMING_H

#include <stddef.h>

/* The local date and time a job started; seconds are not used. */
struct JobStartTime {
    int year, month, day, hour, minute;
};

enum ImageKind { DESCRIPTION_IMAGE, MOBILE_IMAGE };

/* The last number of every local name: 1 at program start, never reset. */
extern int imageCounter;

/* The current local time as a job start time. */
JobStartTime jobStartNow(void);

/* The extension of the local file for a link: "jpg", "jpeg", "png", "gif" or
 * "bmp", by the link's own extension ("jpg" when it names none of them). */
const char *imageExtension(const char *url);

/* The highest number that a name of the job's form (of either kind, with
 * any extension) already carries in folder or in the package text: found
 * once when the job starts. A new name is numbered above it, so that a name
 * the package still names keeps to its image though its file was deleted.
 * 0 when there is none; names in a folder that cannot be listed count for
 * nothing (its files are still never taken, see freeLocalPath). */
int highestTakenNumber(const char *folder, const char *packageText, const JobStartTime &start);

/* Claims a name for a new image and writes its path into out: folder (as it
 * stands), the separator, the name and the extension. The name is numbered
 * above takenUpTo and claimed by creating its file, empty, where no file of
 * that name exists: another process moving into the folder at the same
 * time never gets it, and a name taken meanwhile is passed over for the
 * next. The caller owns the file: the whole image replaces it, or the
 * caller removes it. Advances imageCounter once per name tried. Returns 1,
 * or 0 (out empty) when no file can be created there (the path does not
 * fit in size bytes, or the folder refuses it). */
int freeLocalPath(const char *folder, ImageKind kind, const JobStartTime &start, const char *extension,
                  int takenUpTo, char *out, size_t size);

#endif
