// A thin file layer for the save-fault tests: the test executable that links
// fault_layer.cpp is linked with -Wl,--wrap for open, write, fsync, close and
// rename, so the server code stays untouched while a test makes the k-th
// call of one step of a save fail, stop short, or kill the process.
//
// Only calls on set files are watched: paths containing ".set" (the set file,
// its temporary and set-aside copies) and the descriptors opened on them.
#pragma once

namespace fault_layer {

enum class step {
  open_write,  // open of a set file for writing (the temporary file)
  open_read,   // open of a set file for reading (the load)
  write,
  read,
  fsync,  // fsync or fdatasync
  close,  // of a set file opened for writing
  rename,
  count_
};

enum class fault {
  none,
  kill_before,  // SIGKILL instead of the call
  kill_after,   // the call, then SIGKILL
  eio,          // fails with EIO, nothing done
  enospc,       // fails with ENOSPC, nothing done
  emfile,       // fails with EMFILE, nothing done
  short_io,     // a read or write moves half the bytes
};

const char *step_name(step s);
const char *fault_name(fault f);

// From now on, the nth call (counted from 1) of step s gets fault f; every
// other call goes through. Resets the counters.
void arm(step s, int nth, fault f);
void disarm();

// Calls of step s seen since the last arm() or reset_counts().
int calls(step s);
void reset_counts();

// Whether the armed fault has been injected.
bool fired();

}  // namespace fault_layer
