/* The screen's resolution, which the window's fixed layout follows. The
 * program declares itself DPI-aware, so Windows draws it at the screen's
 * real resolution rather than stretching a 96-dpi picture of it. */
#ifndef LUMORA_SCREEN_SCALE_H
#define LUMORA_SCREEN_SCALE_H

/* The resolution the layout is drawn for. */
enum { DESIGN_DPI = 96 };

/* The screen's resolution in dots per inch, read once; never below
 * DESIGN_DPI, so that smaller settings keep the layout as drawn. */
int screenDpi(void);

/* A length of the 96-dpi layout in pixels of this screen: the same length at
 * 96 dpi; above, grown by the scale and rounded to the nearest pixel. */
int scaled(int pixels);

#endif
