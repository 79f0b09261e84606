#pragma once

// Start-up and shutdown of the mail library.

// Prepares the library; call once at start-up, before any session. Returns 0.
int NMailInitializeWinSock();
// Releases the library at shutdown: every session still open, a check's among them, is dropped
// at once without QUIT (so the server applies none of its deletions), and no new session can
// start. Returns 0.
int NMailEndWinSock();
