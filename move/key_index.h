/* Finding where a set of links occurs in a large text in one pass.
 *
 * Every link holds "//" at a fixed offset from its start: 0 for
 * "//host/...", 5 for "http://..." and 6 for "https://...". So the text is
 * scanned for "//" alone, and at each one the links of each offset are
 * looked up by a hash of the text that follows, one length at a time. */
#ifndef LUMORA_KEY_INDEX_H
#define LUMORA_KEY_INDEX_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <unordered_map>
#include <vector>

class KeyIndex {
public:
    /* Indexes the keys (not copied: they must outlive the index). */
    explicit KeyIndex(const std::vector<std::string> &keys);

    /* false when some key holds no "//" at offset 0, 5 or 6. */
    bool usable() const { return allAnchored; }

    /* Calls found(key, start) for every occurrence of a key in text[0, length),
     * in order of its "//"; a key's occurrences come in increasing order. */
    template <class Found>
    void occurrences(const char *text, size_t length, Found found) const;

    /* true when some key begins with text[0, length). */
    bool prefixOfSomeKey(const char *text, size_t length) const;

    /* false when no key begins with the two bytes at p (one when it is the
     * last): a quick test before prefixOfSomeKey. */
    bool mayStartKey(const char *p, size_t length) const {
        unsigned char first = (unsigned char)p[0];
        return length > 1 ? (bool)firstPairs[first * 256 + (unsigned char)p[1]] : firstBytes[first];
    }

    size_t longest() const { return longestKey; }
    size_t keyLength(int key) const { return keys[(size_t)key].size(); }

private:
    enum { ANCHOR_COUNT = 3 };
    static const size_t ANCHORS[ANCHOR_COUNT];

    /* The keys whose "//" stands at one offset. */
    struct Group {
        std::vector<size_t> lengths;                      // distinct, increasing
        std::unordered_multimap<uint64_t, int> byHash;    // hash of a key's text
    };

    template <class Found>
    void lookUp(const Group &g, const char *text, size_t length, size_t start, Found found) const;

    const std::vector<std::string> &keys;
    std::vector<std::string> sorted;
    Group groups[ANCHOR_COUNT];
    bool firstBytes[256] = {};
    std::vector<bool> firstPairs = std::vector<bool>(256 * 256);  // the first two bytes of the keys
    bool allAnchored = true;
    size_t longestKey = 0;
};

/* One step of the text hash: the hash of text[p, p + n + 1) from that of
 * text[p, p + n). */
inline uint64_t extendHash(uint64_t hash, unsigned char c) {
    return hash * 1099511628211ull + c + 1;
}

template <class Found>
void KeyIndex::lookUp(const Group &g, const char *text, size_t length, size_t start, Found found) const {
    uint64_t hash = 0;
    size_t hashed = 0;
    for (size_t keyLength : g.lengths) {
        if (start + keyLength > length) return;
        for (; hashed < keyLength; hashed++) hash = extendHash(hash, (unsigned char)text[start + hashed]);
        auto range = g.byHash.equal_range(hash);
        for (auto it = range.first; it != range.second; ++it) {
            const std::string &key = keys[(size_t)it->second];
            if (key.size() == keyLength && key.compare(0, keyLength, text + start, keyLength) == 0)
                found(it->second, start);
        }
    }
}

template <class Found>
void KeyIndex::occurrences(const char *text, size_t length, Found found) const {
    for (size_t q = 0; q + 1 < length; q++) {
        const char *slash = (const char *)memchr(text + q, '/', length - q - 1);
        if (!slash) return;
        q = (size_t)(slash - text);
        if (slash[1] != '/') continue;
        for (int g = 0; g < ANCHOR_COUNT; g++)
            if (q >= ANCHORS[g]) lookUp(groups[g], text, length, q - ANCHORS[g], found);
    }
}

#endif
