// Opening the X display without letting FLTK end the process when there is
// none. Kept apart because Xlib's macros clash with other headers.
#pragma once

// Connects FLTK to $DISPLAY. False when it is unset or cannot be opened.
bool openDisplay();
