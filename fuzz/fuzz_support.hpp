// Shared set-up of the fuzz targets: a private scratch working directory (the
// handlers write their set files and "cgi.log" into the working directory),
// stdout silenced, SIGPIPE ignored, and a fresh state before every input so
// that an input replays the same way whenever it runs.
#pragma once

namespace fuzz_support {

// Once per process: makes a scratch directory on a RAM disk where there is
// one (the saves fsync on every write). stdout goes to /dev/null unless
// IFCSIM_FUZZ_VERBOSE is set.
void init_process();

// For the lifetime of the object the scratch directory is the working
// directory, emptied of what an earlier input left there (the set files,
// their temporary and set-aside copies, "cgi.log"). The old working directory
// comes back afterwards, so that the fuzzer's own relative paths (corpus,
// artifacts) keep working.
class scratch_dir {
 public:
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir &) = delete;
  scratch_dir &operator=(const scratch_dir &) = delete;

 private:
  int old_cwd_;
};

}  // namespace fuzz_support
