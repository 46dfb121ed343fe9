// The client's requests under a deadline the caller gives, for the
// library's other modules: a call that makes two requests (a change and its
// read-back) holds one deadline across both. Not installed; hidden in the
// shared library.
#pragma once

#include "ifcsim/lib_client.h"

#pragma GCC visibility push(hidden)
namespace ifcsim_lib {

// The deadline of a call that starts now, on the clock the waits use: the
// endpoint's deadline_ms, or three times its timeout_ms when that is 0.
long long call_deadline(const ifc_endpoint *ep);

// ifc_get, bounded by deadline as well as by each single wait.
int get_until(const ifc_endpoint *ep, const char *name, char *reply, int capacity,
              long long deadline);

// Bytes that follow one another in a payload, so that nothing need be
// copied into one buffer.
struct piece {
  const char *data;
  int size;
};
inline constexpr int kMaxTextPieces = 4;

// ifc_put of a text made of text[0..count), at most kMaxTextPieces, bounded
// by deadline as well as by each single wait.
int put_until(const ifc_endpoint *ep, const char *name, const piece *text, int count,
              long long deadline);

}  // namespace ifcsim_lib
#pragma GCC visibility pop
