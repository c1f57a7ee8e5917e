/* The console's wording of the messages it shares with the window.
 *
 * The checks and the move job speak the window's language: they name its
 * check boxes, point at its item list and end a refusal with a yes/no
 * question. A console has flags instead, prints the failure list below the
 * message, and cannot be asked anything, so those phrases are put in
 * console terms just before printing. The texts themselves, and everything
 * the window shows, stay as they are. */
#ifndef LUMORA_CONSOLE_WORDING_H
#define LUMORA_CONSOLE_WORDING_H

#include <string>

/* The message (GBK) as the console prints it. */
std::string consoleWording(const char *windowText);

#endif
