// qeldebug: the per-run trace file shared by the utility family, its line prefix and
// elapsed-time stamp, the command-line record, hex dumps, and the exit handler that finishes
// the trace and keeps the trace directory within its budget.
#pragma once

#include <cstdint>
#include <cstdio>

#define QEL_PRINTF(fmtIndex, firstArg) __attribute__((format(printf, fmtIndex, firstArg)))

// ---- Trace file -------------------------------------------------------------------------
constexpr std::size_t kDebugStreamNameSize = 4096;

// Time of day as the trace keeps it: two signed 32-bit fields.
struct QEL_TimeOfDay {
  std::int32_t tv_sec;
  std::int32_t tv_usec;
};

extern const char *QEL_DebugDir;                    // trace directory, default from the build
extern char DebugStreamName[kDebugStreamNameSize];  // full path of this run's trace file
extern const char *UtilityName;                     // name the trace was opened under
extern std::int32_t QEL_DebugStartTime;             // wall clock when the trace was opened
extern QEL_TimeOfDay QEL_TraceStartTime;            // base of the elapsed-time stamp

// Opens this run's trace in QEL_DebugDir and registers QEL_DebugExitHandler with atexit.
// 0: opened, already open, or no usable directory; 1: directory usable but file not created.
int QEL_OpenTraceFile(const char *name);
// Creates and heads the trace file; 0 when created, 1 when not. Called by QEL_OpenTraceFile.
int OpenLogFile(const char *name);
// The open trace stream, or nullptr when no trace is open.
FILE *GetDebugFile();
// Elapsed-time stamp text "%d.%03d\n", or "" when the millisecond count has not moved.
const char *GetElapsedMilliSeconds();
// Wall-clock seconds since the trace was opened.
int GetElapsedSeconds();
// Writes the command line, each word followed by one blank, as one trace line.
void RecordCommandLine(int argc, char *const argv[]);

// Writes one trace line: stamp, "module:line ", the message, then flush. No-op without a trace.
void QEL_Trace(const char *module, int line, const char *fmt, ...) QEL_PRINTF(3, 4);

// ---- Hex dumps --------------------------------------------------------------------------
// Titled dump to standard output and/or the trace (module "qeldebug").
int DumpBinary(const char *title, const void *address, int length, int toStdout, int toTrace);
int DumpBinaryToStdout(const char *title, const void *address, int length);
int DumpBinaryToTrace(const char *title, const void *address, int length);

// ---- Exit handler and retention ---------------------------------------------------------
enum TraceDisposition : int { Entry_Invalid = 0, Trace_Keep = 1, Trace_Delete = 2 };

struct IntelligentTraceEntry {
  const char *utility;     // utility name or "*"; nullptr in the closing row
  const char *returnCode;  // decimal return code or "*"; nullptr in the closing row
  TraceDisposition disposition;
};

constexpr int kIntelligentTraceRows = 30;
extern const IntelligentTraceEntry IntelligentTraceTable[kIntelligentTraceRows];
extern int UsingIntelligentTracing;
extern int FinalReturnCode;

void QEL_DebugExitHandler();
int LookUpDisposition(const char *utility, int returnCode, TraceDisposition *disposition);
const char *DisplayDisposition(int disposition);
