// The windowed mode.
#pragma once

// Runs the console and image windows until every window is closed. Returns
// false, after saying why, when the windowed mode cannot start.
bool runGui();
