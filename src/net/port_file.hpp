// The port file: how a program that started the server on a port the kernel
// picked (--port 0) learns which port that is.
#pragma once

// Writes the port that listen_fd is bound to, as decimal text and a line end,
// to path. The file appears whole (written to path.tmp, then renamed), so a
// script may wait for it. Returns the port, or -1 with errno set (the
// temporary file is removed).
int write_port_file(int listen_fd, const char *path);
