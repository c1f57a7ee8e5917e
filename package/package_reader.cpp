/* Data package reader; see package_reader.h.
 *
 * The walk follows the TAB tokenizer with a column counter. The token of a
 * row's last column runs through the row's CR LF into the next row's title,
 * which is where every record after the first begins. A quoted field that
 * matters is taken whole by its quotes and the tokenizer is moved past it. */
#include "package_reader.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <new>

#include "link_extract.h"
#include "package_text.h"
#include "process_hooks.h"
#include "text_utils.h"

enum { LOADED = 1, REFUSED = 0 };

/* Columns of the header row; -1 while a name has not been seen. */
struct Columns {
    int title = -1, desc = -1, mobile = -1, selling = -1;
    int count = 0;
};

/* The state of the row walk. */
struct RowWalk {
    char *cursor;          /* the tokenizer's position in the data rows */
    const char *data;      /* the data rows, which start at dataOffset in the text */
    size_t dataOffset;
    int field;             /* the column of the token in hand */
    ItemRecord *current;   /* the record of the row in hand */
    const Columns *cols;
    PtrVector *items;
};

/* Outcome of one step of the walk. */
enum WalkStep { STEP_MORE, STEP_DONE, STEP_REFUSED, STEP_LONG_TITLE };

struct FreeDeleter {
    void operator()(void *p) const { free(p); }
};
typedef std::unique_ptr<char, FreeDeleter> HeapText;

int32_t quotedFieldLength(const char *p) {
    for (const char *q = strchr(p + 1, '"'); q; q = strchr(q + 2, '"'))
        if (q[1] != '"') return (int32_t)(q - p + 1);
    return 0;
}

/* The column of the key name, or NULL for another name. */
static int *keyColumn(Columns *cols, const char *name) {
    if (strcmp(name, "宝贝名称") == 0) return &cols->title;
    if (strcmp(name, "宝贝描述") == 0) return &cols->desc;
    if (strcmp(name, "无线详情") == 0) return &cols->mobile;
    if (strcmp(name, "宝贝卖点") == 0) return &cols->selling;
    return NULL;
}

/* Reads the column names of the header row (cut in place; the CR of its
 * line end is no part of the last name). Returns 1 when the title is
 * column 0 and the description column exists; 0 otherwise, and when a key
 * name stands twice, which *problem then names: either column's links
 * would be left unmoved without a word. */
static int readHeader(char *row, Columns *cols, std::string *problem) {
    size_t length = strlen(row);
    if (length > 0 && row[length - 1] == '\r') row[length - 1] = '\0';
    for (char *cursor = row, *name; (name = nextToken(&cursor, "\t")); cols->count++) {
        int *column = keyColumn(cols, name);
        if (column && *column >= 0) {
            *problem = formatText("表头中有两列都名为“%s”(第%d列和第%d列)，无法确定该读哪一列", name, *column + 1,
                                  cols->count + 1);
            return 0;
        }
        if (column) *column = cols->count;
    }
    // every row's first field is read as its title
    return cols->title == 0 && cols->desc > 0;
}

/* Starts the record of a row from its quoted title field. */
static WalkStep startRecord(RowWalk *w, const char *field, size_t length) {
    size_t titleLength = length - 2;  // without the quotes
    if (titleLength >= TITLE_SIZE) return STEP_LONG_TITLE;
    ItemRecord *item = (ItemRecord *)calloc(1, sizeof(ItemRecord));
    if (!item || !(item->places = new (std::nothrow) LinkPlaces)) {
        free(item);
        return STEP_REFUSED;
    }
    memcpy(item->title, field + 1, titleLength);
    if (!ptrVectorPush(w->items, item)) {
        itemRecordDestroy(item);
        return STEP_REFUSED;
    }
    w->current = item;
    return STEP_MORE;
}

/* The token of a row's last column: the next row starts after its LF. A
 * last row may end without one. */
static WalkStep startNextRow(RowWalk *w, char *token) {
    char *lf = strchr(token, '\n');
    if (!lf) return w->cursor ? STEP_REFUSED : STEP_DONE;
    const char *next = lf + 1;
    size_t length = strlen(next);
    if (length == 0) return STEP_DONE;
    if (length == 1) return *next == '\r' ? STEP_DONE : STEP_REFUSED;
    w->field = 0;
    return startRecord(w, next, length);
}

/* The first row's title field. A title too short to hold its quotes is an
 * empty data part when nothing follows it, and a broken row otherwise. */
static WalkStep startFirstRow(RowWalk *w, char *token) {
    size_t length = strlen(token);
    if (length < 2) return !w->cursor && (length == 0 || *token == '\r') ? STEP_DONE : STEP_REFUSED;
    return startRecord(w, token, length);
}

/* Scans one description or mobile details field, which stands at offset in
 * the text, into a new list and the item's places. On a scan failure shows
 * the error and ends the process. */
static PtrVector *scanLinks(const char *field, size_t length, size_t offset, int mobile, LinkPlaces *places) {
    PtrVector *list = mobile ? ptrVectorCreate(16, 8) : ptrVectorCreate(32, 16);
    if (!list) return NULL;
    if ((mobile ? extractMobileLinks : extractDescriptionLinks)(field, length, offset, list, places)) return list;
    ptrVectorDestroy(list, 1);
    showMessage(mobile ? "读取宝贝无线详情时出错，具体原因可查看应用日志文件：app.log"
                       : "读取宝贝详情时出错，具体原因可查看应用日志文件：app.log",
                "错误", MESSAGE_ERROR);
    endProcess(0);
}

/* The token before a quoted field that matters has been taken: reads that
 * field whole by its quotes and moves the tokenizer onto the TAB after it. */
static WalkStep readQuotedField(RowWalk *w, int column) {
    const Columns *c = w->cols;
    int32_t length = w->cursor && *w->cursor == '"' ? quotedFieldLength(w->cursor) : 0;
    if (length <= 0) return STEP_REFUSED;
    const char *field = w->cursor;
    w->cursor += length;
    if (column == c->selling) return STEP_MORE;
    size_t offset = w->dataOffset + (size_t)(field - w->data);
    PtrVector *links = scanLinks(field, (size_t)length, offset, column == c->mobile, w->current->places);
    if (!links) return STEP_REFUSED;
    if (column == c->desc) w->current->descLinks = links;
    else w->current->mobileLinks = links;
    return STEP_MORE;
}

/* Handles the token of column w->field, then moves to the next column. */
static WalkStep takeToken(RowWalk *w, char *token) {
    const Columns *c = w->cols;
    WalkStep step = STEP_MORE;
    if (w->field == c->count - 1) step = startNextRow(w, token);
    else if (w->field == c->title && !w->current) step = startFirstRow(w, token);
    if (step != STEP_MORE) return step;
    int next = w->field + 1;
    w->field = next;
    if (next == c->desc || (c->mobile >= 0 && next == c->mobile) || (c->selling >= 0 && next == c->selling))
        return readQuotedField(w, next);
    return STEP_MORE;
}

/* Brings the last record into the shape the move job expects: a row that
 * ended before its description has nothing to move and is dropped (this is
 * also the blank line after the last row); one that ended before its mobile
 * details gets an empty list. */
static int finishLastRecord(RowWalk *w) {
    ItemRecord *last = w->current;
    if (!last) return 1;
    if (!last->descLinks) {
        ptrVectorRemoveAt(w->items, w->items->count - 1);
        itemRecordDestroy(last);
        return 1;
    }
    if (w->cols->mobile >= 0 && !last->mobileLinks) last->mobileLinks = ptrVectorCreate(16, 8);
    return last->mobileLinks != NULL || w->cols->mobile < 0;
}

/* Walks the data rows, appending records. Each token is cut off in place
 * and its TAB put back once it is read, so the text stays whole. Returns a
 * loader result. */
static int walkRows(char *data, size_t dataOffset, const Columns *cols, PtrVector *items) {
    RowWalk w = {data, data, dataOffset, 0, NULL, cols, items};
    for (;;) {
        char *token = nextToken(&w.cursor, "\t");
        char *cut = w.cursor ? w.cursor - 1 : NULL;
        WalkStep step = token ? takeToken(&w, token) : STEP_DONE;
        if (cut) *cut = '\t';
        if (step == STEP_DONE) return finishLastRecord(&w) ? LOADED : REFUSED;
        if (step == STEP_REFUSED) return REFUSED;
        if (step == STEP_LONG_TITLE) return LOAD_TITLE_TOO_LONG;
    }
}

/* Finds the header row in the text and walks the rows after it. */
static int readRows(char *text, PtrVector *items, std::string *problem) {
    char *header = strstr(text, "宝贝名称");
    char *lf = header ? strchr(header, '\n') : NULL;
    if (!lf) return REFUSED;
    HeapText headerRow(copyBytes(header, (size_t)(lf - header)));
    Columns cols;
    if (!headerRow || !readHeader(headerRow.get(), &cols, problem)) return REFUSED;
    return walkRows(lf + 1, (size_t)(lf + 1 - text), &cols, items);
}

int loadPackage(const char *path, PtrVector *items, char **textOut, std::string *problem) {
    std::string found;
    HeapText text(readPackageText(path, &found));
    int result = text ? readRows(text.get(), items, &found) : REFUSED;
    if (problem && !found.empty()) *problem = found;
    if (result == LOADED) *textOut = text.release();
    return result;
}

void itemRecordDestroy(ItemRecord *item) {
    if (!item) return;
    ptrVectorDestroy(item->descLinks, 1);
    ptrVectorDestroy(item->mobileLinks, 1);
    ptrVectorDestroy(item->pcFailures, 1);
    ptrVectorDestroy(item->mobileFailures, 1);
    delete item->places;
    free(item);
}

void itemListClear(PtrVector *items) {
    for (int32_t i = 0; i < items->count; i++) itemRecordDestroy((ItemRecord *)items->items[i]);
    ptrVectorClear(items, 0);
}
