#pragma once

#include <QString>
#include <QtGlobal>

// Names whatever listens on a TCP port of this machine, for the log and the
// desktop: "uid 1001 (alice), pid 4242 (python3)", several joined by "; ".
// The uid comes from the kernel's socket diagnostics; the process is found
// in /proc only where we may look (our own processes, or all as root), else
// it reads "pid unknown". Empty when the kernel names no listener.
QString describePortHolder(quint16 port);
