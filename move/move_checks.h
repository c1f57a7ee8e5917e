/* The checks a front end makes before it loads a package and before it
 * starts a move, with the messages the user sees, and the text of an item's
 * failure lists. Shared by the window and the console so that both say the
 * same things in the same words. */
#ifndef LUMORA_MOVE_CHECKS_H
#define LUMORA_MOVE_CHECKS_H

#include <functional>
#include <string>

#include "move_options.h"

/* The message for a package path that is empty or names no readable file;
 * "" when the path can be loaded. */
std::string packagePathProblem(const char *packagePath);

/* The message for a loadPackage result other than 1 (2: titles too long;
 * 0: not in the export form, which ends with a question whether to open the
 * conversion guide, and begins with what the reader found and where when
 * problem is not empty). */
std::string loadFailureMessage(int result, const char *packagePath, const std::string &problem);

/* The message for options or a target folder a move cannot start with; ""
 * when the move may start. A folder whose name GBK cannot hold is refused:
 * the package could not name the images in it; so is one whose name holds a
 * double quote, which would end the attribute that names an image.
 * desktopFolder is the user's desktop ("" when unknown), which is refused
 * as a target. */
std::string moveChoicesProblem(const MoveOptions &options, const char *targetFolder, const char *desktopFolder);

/* The item's failure lists as the user sees them: for each list there is,
 * its heading and one link a line, the two lists a blank line apart; lines
 * end with lineBreak. Empty when the item has no failure list. A note, when
 * given, adds its text for the link after it on the link's line. */
std::string failureListText(const ItemRecord &item, const char *lineBreak,
                            const std::function<std::string(const char *link)> &note = nullptr);

#endif
