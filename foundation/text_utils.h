/* Small operations on NUL-terminated byte text (GBK, the package's GB18030, or ASCII).
 *
 * Ignoring case folds the ASCII letters only, so GBK double-byte characters
 * are never altered. replaceAll is the one operation with substance: it
 * rewrites whole package texts, so it finds every occurrence first and then
 * builds the result with one allocation of the exact size. */
#ifndef LUMORA_TEXT_UTILS_H
#define LUMORA_TEXT_UTILS_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include <string>

/* Replaces every non-overlapping occurrence of pattern, left to right.
 * Returns a new heap string the caller frees, or NULL when text or pattern
 * is NULL or empty, replacement is NULL, the pattern does not occur, or
 * memory runs out. text is never changed. */
char *replaceAll(const char *text, const char *pattern, const char *replacement);

/* The length of the character at p, which has left bytes after it, in
 * GB18030 (which is GBK wherever GBK has the character): 4 for a lead byte,
 * a digit, a lead byte and a digit; 2 for a lead byte and a GBK trail byte;
 * else 1, also for a byte that begins no character. A NUL ends any
 * sequence, so NUL-terminated text may pass SIZE_MAX. */
size_t charLength(const char *p, size_t left);

/* 1 when text[offset] begins a character (or is the terminating NUL right
 * after one), reading the text from its start (charLength). */
int isCharStart(const char *text, size_t offset);

/* Cuts the next token off *cursor at the first byte of separators: that byte
 * becomes NUL and *cursor moves past it, or becomes NULL at the end of the
 * text. Returns the token, or NULL when *cursor is already NULL. */
char *nextToken(char **cursor, const char *separators);

/* 1 when both are the same pointer or equal strings. Takes untyped pointers
 * so that it serves as the equality function of a vector of strings. */
int stringEquals(const void *a, const void *b);

int startsWith(const char *text, const char *prefix);
/* 1 when a and b are equal but for the case of ASCII letters. */
int equalsNoCase(const char *a, const char *b);
int startsWithNoCase(const char *text, const char *prefix);
int endsWithNoCase(const char *text, const char *suffix);
/* A copy of text with its ASCII letters in lower case (host names). */
std::string lowerAscii(const char *text);

/* The decimal number at the start of text: optional blanks and sign, then
 * digits up to the first other character; 0 without digits. Values beyond
 * 32 bits are held at the nearest limit. */
int32_t leadingDecimal(const char *text);

/* printf-style formatting into a string of whatever length it takes. */
__attribute__((format(printf, 1, 2))) std::string formatText(const char *format, ...);
std::string formatTextV(const char *format, va_list args);

/* A new heap copy of the first length bytes of src, NUL-terminated; NULL when
 * memory runs out. */
char *copyBytes(const char *src, size_t length);

#endif
