// Turning a trace read by ReadTrace into the steps of the run: each operation, exit, retry and
// CI error on a line of its own, and every page dump decoded field by field. Text for a person,
// or JSON Lines (one object per step) for scripts.
#pragma once

#include <cstdio>

#include "tracereader.h"

// Writes the steps of trace to out. With json, one JSON object per line, and a closing
// {"stop":{...}} object when the trace stopped short. Returns 0 when the whole trace was read,
// 1 when it stopped short (trace.stopLine tells where); the caller reports the stop.
int DecodeTrace(const qeltrace::Trace &trace, bool json, FILE *out);
