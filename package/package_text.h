/* Reading a data package file into its text: GBK, NUL-terminated, with
 * every "_.webp" cut out (an image address that carries it after its own
 * extension keeps only its own).
 *
 * The file is read a piece at a time and each piece converted straight into
 * the one buffer that becomes the text, sized for the whole file: no copy
 * of the file's bytes is kept, and the memory touched is the text's own.
 * "_.webp" is cut out of each piece as it arrives, the text moving down
 * over the gap. */
#ifndef LUMORA_PACKAGE_TEXT_H
#define LUMORA_PACKAGE_TEXT_H

/* UCS-2 bytes read and converted at a time. */
enum { PACKAGE_PIECE_SIZE = 1 << 20 };

/* The text of the package file at path as a heap string (the caller frees
 * it); NULL when the file is missing or cannot be read whole, begins as no
 * export does (the title row right after the mark, or single-byte text),
 * its encoding is broken (logged), or its text holds a NUL, which would cut
 * the package short when it is written back. */
char *readPackageText(const char *path);

#endif
