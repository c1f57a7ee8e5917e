/* Package text reading; see package_text.h.
 *
 * The text buffer holds, in order: the final text ([0, kept)), the gap the
 * cuts have left, and the converted bytes not yet looked at ([raw, end)).
 * A "_.webp" is cut only where it begins a character: the bytes before it
 * that can only lead a double-byte character must come in pairs (the
 * second and fourth bytes of a four-byte character are digits, which end
 * such a run). Its first bytes at the end of one piece wait for the rest in
 * the next. */
#include "package_text.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app_log.h"
#include "charset.h"
#include "file_helpers.h"
#include "text_utils.h"

static const char WEBP_TAIL[] = "_.webp";
static const size_t WEBP_TAIL_LENGTH = sizeof WEBP_TAIL - 1;
static const char BROKEN_ENCODING[] = "csv 文件编码存在问题, 无法正常的解析。";

namespace {

/* The text as it is converted and cut. */
struct TextBuffer {
    char *bytes;
    size_t capacity;
    size_t kept;  // the final text ends here
    size_t raw;   // the bytes not yet looked at begin here
    size_t end;   // and end here
};

/* The file as it is read. */
struct PieceReader {
    FILE *file;
    size_t left;       // bytes of the file not read yet
    char *piece;       // PACKAGE_PIECE_SIZE bytes
    const char *next;  // the bytes of the piece not converted yet
    size_t nextBytes;
    int littleEndian;  // the order of the bytes of a unit
};

}  // namespace

/* Reads the next piece in after what is left of the last one (the bytes of
 * a character cut at its end). Returns 0 when the read falls short. */
static int readPiece(PieceReader *r) {
    memmove(r->piece, r->next, r->nextBytes);
    size_t room = PACKAGE_PIECE_SIZE - r->nextBytes, want = r->left < room ? r->left : room;
    size_t got = fread(r->piece + r->nextBytes, 1, want, r->file);
    r->left -= got;
    r->next = r->piece;
    r->nextBytes += got;
    return got == want;
}

/* 1 when the first bytes show a file the seller assistant did not export in
 * its own form: the title row right after the mark, or single-byte text. */
static int hasForeignStart(const unsigned char *b, size_t size) {
    if (size >= 4 && b[0] == 0xFF && b[1] == 0xFE && b[2] == 0x9D && b[3] == 0x5B) return 1;
    return size >= 3 && memcmp(b, "ver", 3) == 0;
}

/* The bytes before text[at], down to text[from], that can lead a GBK
 * double-byte character, counted backwards. */
static size_t leadBytesBefore(const char *text, size_t at, size_t from) {
    size_t n = 0;
    while (at - n > from && (unsigned char)text[at - n - 1] >= 0x81 && (unsigned char)text[at - n - 1] <= 0xFE) n++;
    return n;
}

/* 1 when the converted byte at begins a character, its run of lead bytes
 * going back through the final text. */
static int beginsCharacter(const TextBuffer *b, size_t at) {
    size_t run = leadBytesBefore(b->bytes, at, b->raw);
    if (run == at - b->raw) run += leadBytesBefore(b->bytes, b->kept, 0);
    return run % 2 == 0;
}

/* Moves the converted bytes up to upTo into the final text. */
static void keepUpTo(TextBuffer *b, size_t upTo) {
    size_t n = upTo - b->raw;
    if (b->kept != b->raw) memmove(b->bytes + b->kept, b->bytes + b->raw, n);
    b->kept += n;
    b->raw = upTo;
}

/* Cuts every "_.webp" out of the converted bytes and keeps the rest, but
 * for a possible start of one in the last bytes unless last. */
static void cutWebp(TextBuffer *b, int last) {
    size_t at = b->raw;
    while (at + WEBP_TAIL_LENGTH <= b->end) {
        const char *found = (const char *)memchr(b->bytes + at, '_', b->end - WEBP_TAIL_LENGTH + 1 - at);
        if (!found) break;
        at = (size_t)(found - b->bytes);
        if (memcmp(found, WEBP_TAIL, WEBP_TAIL_LENGTH) != 0 || !beginsCharacter(b, at)) {
            at++;
            continue;
        }
        keepUpTo(b, at);
        at = b->raw = at + WEBP_TAIL_LENGTH;
    }
    size_t wait = last ? 0 : WEBP_TAIL_LENGTH - 1;
    keepUpTo(b, b->end - b->raw > wait ? b->end - wait : b->raw);
}

/* Makes room for the text of inputBytes more bytes of UTF-16, of which a
 * unit gives at most four bytes. Returns 0 when memory runs out (the
 * buffer stays as it was). */
static int growText(TextBuffer *b, size_t inputBytes) {
    size_t capacity = b->end + 2 * inputBytes + 1;
    char *grown = capacity > b->capacity ? (char *)realloc(b->bytes, capacity) : NULL;
    if (!grown) return 0;
    b->bytes = grown;
    b->capacity = capacity;
    return 1;
}

/* The line of the file (from 1) on which the converted byte at stands. */
static long lineOf(const TextBuffer *b, size_t at) {
    long line = 1;
    for (size_t i = 0; i < at; i++)
        if (b->bytes[i] == '\n' && (i < b->kept || i >= b->raw)) line++;
    return line;
}

/* What the unit at the reader's position is, where the conversion failed
 * on it; "" for a byte short of a unit, or before the first line break: a
 * file that is no UTF-16 text (single-byte text read in pairs) has none, and
 * its first odd pair says nothing to the seller. */
static std::string unitProblem(const PieceReader *r, long line) {
    const unsigned char *p = (const unsigned char *)r->next;
    if (r->nextBytes < 2 || line == 1) return "";
    unsigned unit = r->littleEndian ? p[0] | p[1] << 8 : p[0] << 8 | p[1];
    if (unit >= 0xD800 && unit <= 0xDFFF)
        return formatText("第%ld行：含有不成对的UTF-16代理项(%04X)，它不是一个完整的字符", line, unit);
    return formatText("第%ld行：字符U+%04X无法转换", line, unit);
}

/* Converts the file piece by piece into the buffer, growing it when the
 * text outgrows the file. Returns 1, or 0 when the encoding is broken
 * (logged; *problem says where), the text holds a NUL (*problem says
 * where) or the file cannot be read whole. */
static int convertPieces(CharsetStream *s, PieceReader *r, TextBuffer *b, std::string *problem) {
    for (;;) {
        char *out = b->bytes + b->end;
        size_t room = b->capacity - 1 - b->end;  // a NUL follows the text
        CharsetStatus status = charsetStreamConvert(s, &r->next, &r->nextBytes, &out, &room);
        size_t converted = (size_t)(out - (b->bytes + b->end));
        const char *nul = (const char *)memchr(b->bytes + b->end, '\0', converted);
        b->end += converted;
        if (nul) {
            *problem = formatText("第%ld行：含有空字符(NUL)", lineOf(b, (size_t)(nul - b->bytes)));
            return 0;
        }
        int last = r->left == 0;
        if (status == CHARSET_OUTPUT_FULL) {
            if (!growText(b, r->nextBytes + r->left)) return 0;
            continue;
        }
        if (status == CHARSET_FAILED || (last && status == CHARSET_PARTIAL)) {
            appendLog(BROKEN_ENCODING);
            *problem = unitProblem(r, lineOf(b, b->end));
            return 0;
        }
        cutWebp(b, last);
        if (last) return 1;
        if (!readPiece(r)) return 0;
    }
}

/* Converts the file, whose first piece is read, into its text, exactly
 * sized; NULL on failure. The buffer is the text or is freed. Every
 * character is kept: a unit that is no character fails the conversion. */
static char *convertFile(PieceReader *r, TextBuffer *b, std::string *problem) {
    const unsigned char *start = (const unsigned char *)r->next;
    if (r->nextBytes >= 3 && start[0] == 0xEF && start[1] == 0xBB && start[2] == 0xBF) {
        r->next += 3;  // a UTF-8 mark before the text is passed over
        r->nextBytes -= 3;
        start += 3;
    }
    r->littleEndian = r->nextBytes >= 2 && start[0] == 0xFF && start[1] == 0xFE;  // big-endian without a mark
    CharsetStream *s = charsetStreamOpen("UTF-16", "GB18030", MISFIT_FAILS, &r->next, &r->nextBytes);
    int converted = s && convertPieces(s, r, b, problem);
    if (!s) appendLog(BROKEN_ENCODING);
    charsetStreamClose(s);
    if (!converted) {
        free(b->bytes);
        return NULL;
    }
    b->bytes[b->kept] = '\0';
    char *fitted = (char *)realloc(b->bytes, b->kept + 1);
    return fitted ? fitted : b->bytes;
}

/* Reads the open file of length bytes into its text; NULL on failure. */
static char *readText(FILE *f, size_t length, std::string *problem) {
    PieceReader r = {f, length, (char *)malloc(PACKAGE_PIECE_SIZE), NULL, 0, 0};
    r.next = r.piece;
    TextBuffer b = {(char *)malloc(length + 1), length + 1, 0, 0, 0};
    char *text = NULL;
    if (r.piece && b.bytes && readPiece(&r) && !hasForeignStart((const unsigned char *)r.piece, r.nextBytes))
        text = convertFile(&r, &b, problem);
    else
        free(b.bytes);
    free(r.piece);
    return text;
}

char *readPackageText(const char *path, std::string *problem) {
    // a unit of a character GBK has gives no more bytes than it takes, so the file's size mostly holds the text
    int64_t length = fileExists(path) ? fileLength(path) : -1;
    FILE *f = length >= 0 && length <= INT32_MAX ? fopen(path, "rb") : NULL;
    if (!f) return NULL;
    std::string ignored;
    char *text = readText(f, (size_t)length, problem ? problem : &ignored);
    fclose(f);
    return text;
}
