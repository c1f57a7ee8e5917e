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

/* Writes the path of a file that does not exist yet into out: folder (as it
 * stands), the separator, the name and the extension. Advances
 * imageCounter once per name tried. Returns 1, or 0 when the path does not
 * fit in size bytes (the counter has still moved on). */
int freeLocalPath(const char *folder, ImageKind kind, const JobStartTime &start, const char *extension,
                  char *out, size_t size);

#endif
