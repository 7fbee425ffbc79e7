#include "qelsys.h"

#include <unistd.h>

namespace {
int LibcUSleep(unsigned int usec) { return ::usleep(usec); }
unsigned int LibcSleep(unsigned int seconds) { return ::sleep(seconds); }
time_t LibcTime(time_t *out) { return ::time(out); }
int LibcGetTimeOfDay(struct timeval *tv) { return ::gettimeofday(tv, nullptr); }
}  // namespace

const QEL_SysCalls QEL_SysDefaults = {LibcUSleep, LibcSleep, LibcTime, LibcGetTimeOfDay};
QEL_SysCalls QEL_Sys = {LibcUSleep, LibcSleep, LibcTime, LibcGetTimeOfDay};

int QEL_USleep(unsigned int usec) { return QEL_Sys.usleepFn(usec); }
unsigned int QEL_Sleep(unsigned int seconds) { return QEL_Sys.sleepFn(seconds); }
time_t QEL_Time(time_t *out) { return QEL_Sys.timeFn(out); }
int QEL_GetTimeOfDay(struct timeval *tv) { return QEL_Sys.getTimeOfDayFn(tv); }
