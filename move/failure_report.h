/* The failure report: a CSV file beside the package, "PACKAGE-失败清单.csv",
 * that a seller can open in Excel or WPS, sort, and hand to whoever runs the
 * images' hosts. One row per failed link of each item: the item's title,
 * where the link stands (description or mobile details), the link, the
 * reason and whether moving again may help; then one for each link kept
 * whose picture other links of its host share, for the seller to check.
 *
 * It is UTF-8 with a byte order mark, the one form both spreadsheets open in
 * Chinese without asking; every field is quoted and rows end CR LF. A move
 * that ends without failures removes the report an earlier move left, so a
 * report on disk always lists the failures of the last move that ended. */
#ifndef LUMORA_FAILURE_REPORT_H
#define LUMORA_FAILURE_REPORT_H

#include <stddef.h>

#include <string>

#include "link_failure.h"
#include "ptr_vector.h"

/* Writes the report's path for the package into out (size bytes): the
 * package's name without ".csv", then "-失败清单.csv", in its folder.
 * Returns 1, or 0 when it does not fit. */
int failureReportPath(const char *packagePath, char *out, size_t size);

/* 1 when the package's report lies beside it, a file; its path is then in
 * out (size bytes). */
int failureReportExists(const char *packagePath, char *out, size_t size);

/* The report's text (UTF-8, byte order mark first) for the items' failure
 * lists, with their reasons where known, and the links to check (reasons
 * and shared may be NULL); "" when there is nothing to list. */
std::string failureReportText(const PtrVector *items, const FailureReasons *reasons, const SharedPictures *shared);

/* Writes the report when there is something to list, or removes a stale
 * one. Returns what the final message ends with (GBK): the report's name,
 * or that it could not be written; "" when nothing is listed. */
std::string updateFailureReport(const char *packagePath, const PtrVector *items, const FailureReasons *reasons,
                                const SharedPictures *shared);

#endif
