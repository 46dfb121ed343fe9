// Hands the ephemeral port of a bench server to the script that started it.
#pragma once

// Writes the port that listen_fd is bound to, as decimal text and a line end,
// to path. The file appears whole (written beside it, then renamed), so a
// script may poll for it. Returns the port, or -1 on failure (perror'd).
int write_port_file(int listen_fd, const char *path);
