/* Reading a data package file into its text: GB18030 (GBK wherever GBK has
 * the character, so every other character of the file is kept too),
 * NUL-terminated, with every "_.webp" cut out (an image address that
 * carries it after its own extension keeps only its own).
 *
 * The file is read a piece at a time and each piece converted straight into
 * the one buffer that becomes the text, sized for the whole file: no copy
 * of the file's bytes is kept, and the memory touched is the text's own
 * (it grows only for a file with many characters that take four bytes).
 * "_.webp" is cut out of each piece as it arrives, the text moving down
 * over the gap. */
#ifndef LUMORA_PACKAGE_TEXT_H
#define LUMORA_PACKAGE_TEXT_H

#include <string>

/* UTF-16 bytes read and converted at a time. */
enum { PACKAGE_PIECE_SIZE = 1 << 20 };

/* The text of the package file at path as a heap string (the caller frees
 * it); NULL when the file is missing or cannot be read whole, begins as no
 * export does (the title row right after the mark, or single-byte text),
 * its encoding is broken (logged), or its text holds a NUL, which would cut
 * the package short when it is written back. For a text that holds a NUL
 * or a unit that is no character (a lone surrogate), *problem (when not
 * NULL) receives the line of the file where it stands and what it is. */
char *readPackageText(const char *path, std::string *problem);

#endif
