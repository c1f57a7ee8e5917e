/* The update notice: once per start the maker's update service says whether
 * a newer version exists and may send a notice for the first page. */
#ifndef LUMORA_UPDATE_NOTICE_H
#define LUMORA_UPDATE_NOTICE_H

#include <string>

/* Asks the update service and acts on its reply (notice text into
 * noticeBox; question, information or warning box owned by mainWindow;
 * "must" ends the process, after the write-back of a move in hand). A
 * failed request does nothing. Runs on the start-up thread. */
void checkForUpdate(void);

/* What the status word of a reply asks for. */
enum UpdateAction { UPDATE_NONE, UPDATE_OFFERED, UPDATE_REQUIRED, UPDATE_UNRECOGNISED };

/* A reply "status^notice^...": the status word and the notice as sent
 * (UTF-8); a reply without "^" is all status word. */
struct UpdateReply {
    std::string status, notice;
};
UpdateReply parseUpdateReply(const char *body);

/* "false", "true" and "must", matched whole and byte for byte. */
UpdateAction updateAction(const std::string &status);

/* The notice as GBK text for the notice box; characters GBK lacks and
 * malformed bytes are dropped, a character cut off at the end too. */
std::string noticeText(const std::string &notice);

/* The warning shown for an unrecognised reply: a fixed line and the reply
 * as received, cut after its first UNRECOGNISED_SHOWN_BYTES bytes. */
enum { UNRECOGNISED_SHOWN_BYTES = 386 };
std::string unrecognisedReplyText(const char *body);

#endif
