/* Image-address extraction; see link_extract.h.
 *
 * The forms are read by hand (link_scanner.h), in time linear in the field,
 * so no field can stall the load. Repeats are told by a map from what the
 * list holds to the list's copy, so a field with many addresses costs no
 * more per address than one with few, and every place names the one copy. */
#include "link_extract.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <unordered_map>

#include "deployment.h"
#include "link_scanner.h"
#include "text_utils.h"

namespace {

/* Appends new addresses to a list, each once, and every place found. */
struct Collector {
    PtrVector *list;
    LinkPlaces *places;
    size_t offset;  // where the field stands in the package text
    int mobile;
    std::unordered_map<std::string, const char *> held;

    Collector(PtrVector *l, LinkPlaces *p, size_t o, int m) : list(l), places(p), offset(o), mobile(m) {
        for (int32_t i = 0; i < list->count; i++) held.emplace((const char *)list->items[i], (const char *)list->items[i]);
    }
    void collect(const char *field, const FormMatch &m);
};

}  // namespace

/* 1 when the address is the blank image, also when a "|" follows it. */
static int isBlankImage(const char *address) {
    size_t n = sizeof BLANK_IMAGE_URL - 1;
    return strncmp(address, BLANK_IMAGE_URL, n) == 0 && (address[n] == '\0' || address[n] == '|');
}

/* 1 when an address is to be left where it is. */
static int isExcluded(const char *address, int mobile) {
    for (const char *marker : SKIPPED_HOST_MARKERS)
        if (!mobile && strstr(address, marker)) return 1;
    return isBlankImage(address);
}

static bool holdsRowBreak(const char *text, size_t length) {
    for (size_t i = 0; i < length; i++)
        if (text[i] == '\t' || text[i] == '\r' || text[i] == '\n') return true;
    return false;
}

void Collector::collect(const char *field, const FormMatch &m) {
    char *address = copyBytes(field + m.addressStart, m.addressEnd - m.addressStart);
    if (!address) return;
    if (isExcluded(address, mobile)) {
        free(address);
        return;
    }
    auto entry = held.emplace(address, address);
    if (!entry.second) free(address);
    else if (!ptrVectorPush(list, address)) {
        held.erase(entry.first);
        free(address);
        return;
    }
    const char *url = entry.first->second;
    size_t start = offset + m.addressStart, end = offset + m.addressEnd;
    // an element that holds a TAB or a line break stays, so the row keeps them
    bool wholeElement = mobile && !holdsRowBreak(field + m.start, m.end - m.start);
    places->push_back({start, end, wholeElement ? offset + m.start : start, wholeElement ? offset + m.end : end, url, mobile});
}

static int scanForms(const char *text, size_t length, int first, int last, Collector &out) {
    FieldScanner field(text, length);
    for (int form = first; form <= last; form++)
        for (const FormMatch &m : field.matches(form)) out.collect(text, m);
    return 1;
}

int extractDescriptionLinks(const char *text, size_t length, size_t offset, PtrVector *list, LinkPlaces *places) {
    Collector out(list, places, offset, 0);
    return scanForms(text, length, 0, DESCRIPTION_FORM_COUNT - 1, out);
}

int extractMobileLinks(const char *text, size_t length, size_t offset, PtrVector *list, LinkPlaces *places) {
    Collector out(list, places, offset, 1);
    return scanForms(text, length, MOBILE_FORM, MOBILE_FORM, out);
}
