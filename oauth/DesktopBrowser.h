#pragma once

// Lets sign-in pages open in the desktop's own browser through Qt's URL handler (xdg-open, or $BROWSER
// where it is missing; a portal where the desktop has one). A platform without a URL handler of its
// own (offscreen, for the demo tool) starts the same programs directly. For every program that signs in.
void useDesktopBrowserForSignIn();
