/* Link rewrite; see link_rewrite.h.
 *
 * A whole occurrence of a link ends where the first closing byte after its
 * start stands, unless the link itself holds a closing byte. So the text is
 * cut into runs without closing bytes, and a link is sought only at the
 * places in a run where one can open, by a hash of the text from there to
 * the run's end, taken backwards in one sweep of the run's last bytes. A
 * link that holds a closing byte is sought by the part before its first
 * one, and the rest compared. The replacements are then claimed longest
 * link first, none over another, and the new text written in one go. */
#include "link_rewrite.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "deployment.h"
#include "text_utils.h"

/* How far back the name of an attribute, and the blanks after it, are read
 * before a "=" that opens a link. */
enum { ATTRIBUTE_NAME_MAX = 32 };

static const char ELEMENT_OPEN[] = "<img>", ELEMENT_CLOSE[] = "</img>";
static const size_t ELEMENT_OPEN_LENGTH = sizeof ELEMENT_OPEN - 1, ELEMENT_CLOSE_LENGTH = sizeof ELEMENT_CLOSE - 1;

namespace {

enum Action { MOVE_TO_PATH, BLANK_OUT, LEAVE };

/* A link of the map with what becomes of it. */
struct Link {
    std::string url;
    const char *path;             // the local path, for MOVE_TO_PATH
    Action action;
    size_t head;                  // bytes before its first closing byte
    std::vector<size_t> starts;   // its whole occurrences, in text order
};

/* A replacement in the original text: [start, end) becomes value. */
struct Edit {
    size_t start, end;
    const char *value;
};

/* Reports each new whole percentage as the links are taken one by one. */
struct ProgressCounter {
    RewriteProgress progress;
    size_t total, done = 0;
    int shown = 0;
    void step() {
        int percent = (int)(++done * 100 / total);
        if (percent != shown && progress.report) progress.report(progress.context, percent);
        shown = percent;
    }
};

}  // namespace

static bool isBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

/* A byte that can stand right after a link. */
static bool closesLink(unsigned char c) {
    return isBlank(c) || c == '"' || c == '\'' || c == '|' || c == '>' || c == '<' || c == ')';
}

static bool isNameByte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

/* 1 when the "=" at text[eq] ends an attribute name ("src=", not "?u="). */
static bool isAttributeEquals(const char *text, size_t eq) {
    size_t at = eq, stop = eq > ATTRIBUTE_NAME_MAX ? eq - ATTRIBUTE_NAME_MAX : 0;
    while (at > stop && text[at - 1] == ' ') at--;
    size_t nameEnd = at;
    while (at > stop && isNameByte((unsigned char)text[at - 1])) at--;
    if (at == nameEnd) return false;
    unsigned char before = at > 0 ? (unsigned char)text[at - 1] : ' ';
    return isBlank(before) || before == '"' || before == '\'';
}

/* 1 when a link may open at text[start]. */
static bool opensLink(const char *text, size_t start) {
    if (start == 0) return true;
    unsigned char c = (unsigned char)text[start - 1];
    if (c == '=') return isAttributeEquals(text, start - 1);
    return isBlank(c) || c == '"' || c == '\'' || c == '>' || c == '(';
}

/* One step of the backward hash: the hash of s[i, end) from that of
 * s[i + 1, end). */
static inline uint64_t stepHash(uint64_t hash, unsigned char c) {
    return hash * 1099511628211ull + c + 1;
}

static uint64_t slotOf(uint64_t hash, size_t length) {
    return hash ^ (length * 0x9E3779B97F4A7C15ull);
}

/* The links of the map, longest first; links of equal length keep the map's
 * order. */
static std::vector<Link> orderedLinks(const StrMap *movedImages, int blankForFailed) {
    std::vector<Link> links;
    StrMapKey *keys = strMapKeys(movedImages);
    for (StrMapKey *k = keys; k; k = k->next) {
        const char *path = (const char *)strMapGet(movedImages, k->key);
        Action action = path && *path ? MOVE_TO_PATH : blankForFailed ? BLANK_OUT : LEAVE;
        if (!*k->key) action = LEAVE;
        links.push_back({k->key, path, action, 0, {}});
    }
    strMapFreeKeys(keys);
    std::stable_sort(links.begin(), links.end(),
                     [](const Link &a, const Link &b) { return a.url.size() > b.url.size(); });
    return links;
}

namespace {

/* Finds the whole occurrences of every link that is to change. */
class Finder {
public:
    Finder(std::vector<Link> &l) : links(l) {
        for (size_t i = 0; i < links.size(); i++) index(i);
    }
    void scan(const char *text, size_t length);

private:
    void index(size_t i);
    void sweepRun(const char *text, size_t length, size_t runStart, size_t runEnd);
    void match(const char *text, size_t length, size_t start, size_t runEnd, uint64_t hash);

    std::vector<Link> &links;
    std::unordered_multimap<uint64_t, size_t> byHead;  // slot of a link's head -> link
    bool opener[256] = {};                               // first bytes of the links
    size_t longestHead = 0;
};

void Finder::index(size_t i) {
    Link &link = links[i];
    if (link.action == LEAVE) return;
    const std::string &url = link.url;
    link.head = 0;
    while (link.head < url.size() && !closesLink((unsigned char)url[link.head])) link.head++;
    if (link.head == 0) return;  // opens with a closing byte: never whole
    uint64_t hash = 0;
    for (size_t j = link.head; j-- > 0;) hash = stepHash(hash, (unsigned char)url[j]);
    byHead.emplace(slotOf(hash, link.head), i);
    opener[(unsigned char)url[0]] = true;
    longestHead = std::max(longestHead, link.head);
}

/* Records the links whose head is text[start, runEnd) and whose whole
 * occurrence begins there. */
void Finder::match(const char *text, size_t length, size_t start, size_t runEnd, uint64_t hash) {
    size_t head = runEnd - start;
    auto range = byHead.equal_range(slotOf(hash, head));
    for (auto it = range.first; it != range.second; ++it) {
        Link &link = links[it->second];
        const std::string &url = link.url;
        size_t end = start + url.size();
        if (link.head != head || end > length || memcmp(text + start, url.data(), url.size()) != 0) continue;
        if (end == length || closesLink((unsigned char)text[end])) link.starts.push_back(start);
    }
}

/* Tries every place in the run where a link may open and its head fit. */
void Finder::sweepRun(const char *text, size_t length, size_t runStart, size_t runEnd) {
    size_t low = runEnd - runStart > longestHead ? runEnd - longestHead : runStart;
    uint64_t hash = 0;
    for (size_t j = runEnd; j-- > low;) {
        hash = stepHash(hash, (unsigned char)text[j]);
        if (opener[(unsigned char)text[j]] && opensLink(text, j)) match(text, length, j, runEnd, hash);
    }
}

void Finder::scan(const char *text, size_t length) {
    if (byHead.empty()) return;
    bool closing[256];
    for (int c = 0; c < 256; c++) closing[c] = closesLink((unsigned char)c);
    for (size_t at = 0; at < length;) {
        if (closing[(unsigned char)text[at]]) {
            at++;
            continue;
        }
        size_t runEnd = at;
        while (runEnd < length && !closing[(unsigned char)text[runEnd]]) runEnd++;
        sweepRun(text, length, at, runEnd);
        at = runEnd;
    }
}

/* Decides the replacements: longest link first, none over another. */
class Planner {
public:
    Planner(const char *t, size_t n) : text(t), length(n), taken(n) {}
    /* Plans the link's replacements; 1 when the package changes by it. */
    int plan(const Link &link);
    /* The rewritten text, a new heap string (NULL when memory runs out). */
    char *build();

private:
    bool claim(size_t start, size_t end, const char *value);
    bool isElement(size_t start, size_t linkLength) const;

    const char *text;
    size_t length;
    std::vector<bool> taken;  // bytes of the original text a replacement took
    std::vector<Edit> edits;
};

/* Takes [start, end) for value unless a replacement took part of it. */
bool Planner::claim(size_t start, size_t end, const char *value) {
    for (size_t i = start; i < end; i++)
        if (taken[i]) return false;
    std::fill(taken.begin() + (std::ptrdiff_t)start, taken.begin() + (std::ptrdiff_t)end, true);
    edits.push_back({start, end, value});
    return true;
}

bool Planner::isElement(size_t start, size_t linkLength) const {
    size_t end = start + linkLength;
    return start >= ELEMENT_OPEN_LENGTH && end + ELEMENT_CLOSE_LENGTH <= length &&
           memcmp(text + start - ELEMENT_OPEN_LENGTH, ELEMENT_OPEN, ELEMENT_OPEN_LENGTH) == 0 &&
           memcmp(text + end, ELEMENT_CLOSE, ELEMENT_CLOSE_LENGTH) == 0;
}

int Planner::plan(const Link &link) {
    size_t n = link.url.size();
    if (link.action == MOVE_TO_PATH) {
        int changed = 0;
        for (size_t p : link.starts) changed |= claim(p, p + n, link.path);
        return changed;
    }
    if (link.action == LEAVE) return 0;
    for (size_t p : link.starts)
        if (isElement(p, n)) claim(p - ELEMENT_OPEN_LENGTH, p + n + ELEMENT_CLOSE_LENGTH, "");
    for (size_t p : link.starts) claim(p, p + n, BLANK_IMAGE_URL);
    return 1;
}

char *Planner::build() {
    std::sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.start < b.start; });
    size_t size = length;
    for (const Edit &e : edits) size = size - (e.end - e.start) + strlen(e.value);
    char *out = (char *)malloc(size + 1);
    if (!out) return NULL;
    char *w = out;
    size_t from = 0;
    for (const Edit &e : edits) {
        memcpy(w, text + from, e.start - from);
        w += e.start - from;
        size_t n = strlen(e.value);
        memcpy(w, e.value, n);
        w += n;
        from = e.end;
    }
    memcpy(w, text + from, length - from);
    w[length - from] = '\0';
    return out;
}

}  // namespace

int rewriteLinks(char **text, const StrMap *movedImages, int blankForFailed, RewriteProgress progress) {
    std::vector<Link> links = orderedLinks(movedImages, blankForFailed);
    size_t length = strlen(*text);
    Finder(links).scan(*text, length);
    ProgressCounter counter{progress, links.size()};
    Planner planner(*text, length);
    int changed = 0;
    for (const Link &link : links) {
        counter.step();
        changed |= planner.plan(link);
    }
    if (!changed) return 0;
    char *rewritten = planner.build();
    if (!rewritten) return 0;  // out of memory: the package stays as it was
    free(*text);
    *text = rewritten;
    return 1;
}
