#pragma once

// Lets the mouse wheel change a combo box, spin box or slider only while it has keyboard
// focus. Over an unfocused one the wheel goes on to what encloses it, so scrolling a form
// never edits a field in passing. Installed once on the application, before any window.
void installFocusedWheel();
