// Where the simulated lab lives between processes, and how it is kept safe: a text state file
// in the state directory, rewritten atomically (temporary file, fsync, rename) while a lock
// file is held with flock across each read-modify-write, plus the simulator's log file.
#pragma once

#include <span>
#include <string>

#include "qeldebug.h"
#include "simlab.h"

namespace nicisim {

constexpr const char *kStateFileName = "lab.state";
constexpr const char *kLockFileName = "lab.lock";
constexpr const char *kLogFileName = "nicisim.log";

// NICISIM_STATE_DIR, else $XDG_STATE_HOME/nicisim, else ~/.local/state/nicisim ("" when none
// of these can be formed).
std::string StateDirectory();
// Creates the directory and its parents. 0 or an errno value.
int MakeStateDirectory(const std::string &dir);

// Holds the lab's lock file exclusively for its lifetime.
class LabLock {
 public:
  explicit LabLock(const std::string &dir);
  ~LabLock();
  LabLock(const LabLock &) = delete;
  LabLock &operator=(const LabLock &) = delete;
  // 0 when the lock is held, else the errno of the failure.
  int error() const { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

// Reads the lab (caller holds the LabLock). A missing state file gives the default lab, which
// is written at once. Returns 0, or an errno value with a message in error.
int LoadLab(const std::string &dir, Lab &lab, std::string &error);
// Replaces the state file atomically. Returns 0, or an errno value with a message in error.
int SaveLab(const std::string &dir, const Lab &lab, std::string &error);

// The state file's text, and its reading back (false with a message when the text is damaged).
std::string FormatLab(const Lab &lab);
bool ParseLab(const std::string &text, Lab &lab, std::string &error);
std::string FormatFault(const Fault &fault);
// Hex lines of a page: "  OOOO: hh hh ..." with 16 bytes a line.
std::string HexLines(const std::vector<std::uint8_t> &bytes, const char *indent);
// Bytes as one run of lower-case hex pairs ("0a1b...").
std::string HexWord(std::span<const std::uint8_t> bytes);

// Appends one line, prefixed with the process id, to the simulator's log in dir.
void SimLog(const std::string &dir, const char *fmt, ...) QEL_PRINTF(2, 3);

}  // namespace nicisim
