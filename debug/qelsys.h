// The one seam between the libraries and the system clock and pauses. Product code calls
// QEL_USleep, QEL_Sleep, QEL_Time and QEL_GetTimeOfDay; by default they go to libc's usleep,
// sleep, time and gettimeofday. Tests replace the pointers in QEL_Sys to record pauses and
// to set the clock, so nothing waits for real and no test depends on the wall clock.
#pragma once

#include <sys/time.h>
#include <ctime>

struct QEL_SysCalls {
  int (*usleepFn)(unsigned int usec);
  unsigned int (*sleepFn)(unsigned int seconds);
  time_t (*timeFn)(time_t *out);
  int (*getTimeOfDayFn)(struct timeval *tv);
};

extern QEL_SysCalls QEL_Sys;

// The libc defaults, for tests that restore the seam.
extern const QEL_SysCalls QEL_SysDefaults;

int QEL_USleep(unsigned int usec);
unsigned int QEL_Sleep(unsigned int seconds);
time_t QEL_Time(time_t *out);
int QEL_GetTimeOfDay(struct timeval *tv);
