/* Preloaded into a process under test: usleep and sleep return at once and append one line
 * each ("usleep N" / "sleep N") to the file named by QEL_PAUSE_LOG, so an end-to-end test sees
 * the exact pause sequence of a run without waiting for it. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static void record(const char *what, unsigned long value) {
  const char *path = getenv("QEL_PAUSE_LOG");
  int fd = path == NULL || *path == '\0' ? -1 : open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd >= 0) {
    dprintf(fd, "%s %lu\n", what, value);
    close(fd);
  }
}

int usleep(useconds_t usec) {
  record("usleep", (unsigned long)usec);
  return 0;
}

unsigned int sleep(unsigned int seconds) {
  record("sleep", (unsigned long)seconds);
  return 0;
}
