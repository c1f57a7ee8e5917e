/* Local names for downloaded images: the job's start time and a process-wide
 * counter, "Y-M-D-h-m-n" for description images and "m-Y-M-D-h-m-n" for
 * mobile-details images, with an extension taken from the link. */
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
 * any extension) already carries in folder: found by one listing when the
 * job starts, so that the names numbered above it need no look each. 0
 * when there is none; INT_MAX when the folder cannot be listed. */
int highestTakenNumber(const char *folder, const JobStartTime &start);

/* Writes the path of a file that does not exist yet into out: folder (as it
 * stands), the separator, the name and the extension. Names numbered up to
 * takenUpTo are looked for in the folder; higher ones are free, as files
 * appear there during a job only by its own hand. Advances imageCounter
 * once per name tried. Returns 1, or 0 when the path does not fit in size
 * bytes (the counter has still moved on). */
int freeLocalPath(const char *folder, ImageKind kind, const JobStartTime &start, const char *extension,
                  int takenUpTo, char *out, size_t size);

#endif
