/* Writes data packages as the seller assistant exports them, for tests and benchmarks: FF FE and UTF-16LE text; a
 * "version 1.00" line, a row of English column keys and the row of Chinese column names; then one CR LF ended row
 * per item, fields separated by TAB, text fields quoted with inner quotes doubled. */
#ifndef LUMORA_TESTS_PACKAGE_BUILDER_H
#define LUMORA_TESTS_PACKAGE_BUILDER_H

#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

#include "package_reader.h"

struct PackageColumn {
    std::u16string key;   // English
    std::u16string name;  // Chinese
};

/* The columns of a current export, "宝贝名称" first; without the named ones. */
const std::vector<PackageColumn> &standardColumns();
std::vector<PackageColumn> columnsWithout(const std::vector<std::u16string> &names);

/* One data row: raw field texts by column name (already quoted where the
 * format quotes them); columns not given get a plain default value. */
typedef std::map<std::u16string, std::u16string> PackageRow;

/* An item with the usual quoted fields. */
PackageRow itemRow(const std::u16string &title, const std::u16string &description,
                   const std::u16string &mobile = u"", const std::u16string &selling = u"");

/* The whole package text (without the byte-order mark); its file's bytes. */
std::u16string packageText(const std::vector<PackageRow> &rows,
                           const std::vector<PackageColumn> &columns = standardColumns());
std::string packageBytes(const std::u16string &text);

/* A package read with the program's own reader, released when the object goes. */
struct LoadedPackage {
    int result = -1;
    PtrVector *items = ptrVectorCreate(256, 64);
    char *text = nullptr;
    std::string problem;  // what the reader found, for a refused package
    LoadedPackage() = default;
    explicit LoadedPackage(const std::string &path) { load(path); }
    ~LoadedPackage() { itemListClear(items); ptrVectorDestroy(items, 0); free(text); }
    void load(const std::string &path) { result = loadPackage(path.c_str(), items, &text, &problem); }
    ItemRecord *item(int i) const { return i >= 0 && i < items->count ? (ItemRecord *)items->items[i] : nullptr; }
    int count() const { return result == 1 ? items->count : -1; }
};

/* The image links a package file still holds (descriptions, then mobile details, item by item) and its text, read
 * back with the program's own reader; empty when it does not load. */
std::vector<std::string> remoteLinks(const std::string &packagePath);
std::string loadedText(const std::string &packagePath);

/* Writes bytes to path; returns false when the file cannot be written. */
bool writeFile(const std::string &path, const std::string &bytes);

#endif
