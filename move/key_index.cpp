/* Link occurrence index; see key_index.h. */
#include "key_index.h"

#include <algorithm>

const size_t KeyIndex::ANCHORS[KeyIndex::ANCHOR_COUNT] = {0, 5, 6};

KeyIndex::KeyIndex(const std::vector<std::string> &k) : keys(k), sorted(k) {
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i < keys.size(); i++) {
        const std::string &key = keys[i];
        size_t anchor = key.find("//");
        int g = anchor == 0 ? 0 : anchor == 5 ? 1 : anchor == 6 ? 2 : -1;
        if (g < 0) {
            allAnchored = false;
            continue;
        }
        uint64_t hash = 0;
        for (unsigned char c : key) hash = extendHash(hash, c);
        groups[g].byHash.emplace(hash, (int)i);
        groups[g].lengths.push_back(key.size());
        firstBytes[(unsigned char)key[0]] = true;
        firstPairs[(unsigned char)key[0] * 256 + (unsigned char)key[1]] = true;  // every key holds "//"
        longestKey = std::max(longestKey, key.size());
    }
    for (Group &g : groups) {
        std::sort(g.lengths.begin(), g.lengths.end());
        g.lengths.erase(std::unique(g.lengths.begin(), g.lengths.end()), g.lengths.end());
    }
}

bool KeyIndex::prefixOfSomeKey(const char *text, size_t length) const {
    auto it = std::lower_bound(sorted.begin(), sorted.end(), std::string(text, length));
    return it != sorted.end() && it->compare(0, length, text, length) == 0;
}
