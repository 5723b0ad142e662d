#pragma once

// Takes the process-wide single-instance lock on "ZQSIGNExeName.pid" in the
// temporary directory ($XDG_RUNTIME_DIR when the temporary directory is not
// writable). Returns 0 when taken, -1 when another process holds it,
// 1 when the lock file cannot be opened. The lock lives as long as the process.
int lock_set(int type);
