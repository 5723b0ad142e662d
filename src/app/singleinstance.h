#pragma once

#include <QString>

// The single-instance lock "ZQSIGNExeName.pid" is per user: it lives in the
// user's runtime directory ($XDG_RUNTIME_DIR) when that is a private folder
// of the user's own, otherwise in "ZQSignDriver-UID" (created 0700) in the
// temporary directory. So users sharing a machine never block each other,
// and the file (0600) is readable by nobody else.

// The folder that holds the lock, created if needed; empty (with a warning
// logged) when no private folder can be had.
QString privateRuntimeDirectory();

// Takes the lock with the given lock type. Returns 0 when taken, -1 when
// another process of the same user holds it, 1 when the lock file cannot be
// opened. The lock lives as long as the process.
int lock_set(int type);
