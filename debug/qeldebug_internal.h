// State of the trace module shared between its own sources (trace file and exit handler).
#pragma once

#include <cstdio>

// The open trace file; nullptr while no trace is open and after the exit handler closed it.
extern FILE *QEL_DebugStream;

// Module name that prefixes the trace lines of this module.
inline constexpr char kQelDebugModule[] = "qeldebug";

// Puts the elapsed-time stamp back to its state at process start (the next stamp is a first
// stamp). For a process that opens a second trace after closing its first, and for tests.
void QEL_ResetElapsedStamp();
