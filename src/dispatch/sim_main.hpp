// The append_log command and the set-file load and save.
#pragma once

// PUT handler: appends the data part to "cgi.log" exactly as it came, or,
// when that fails, nothing of it, and prints one line naming the error.
int append_log(char *data, int len);

// Reads at most size bytes of path into buf with one read. Returns 0 when the
// file cannot be opened, -1 when the read fails or the file is no regular file
// (nor a directory), else what the read returned.
int hfp_load_data2(const char *path, void *buf, int size);

// Replaces path with the size bytes of buf (temporary file "<path>.tmp",
// fsync, rename; a link into its own directory or below is followed to the
// real file, whose permissions are kept). A file longer than size is first
// kept whole as "<path>.long" (one line saying so). Returns 0 on success; -1
// on any failure, leaving the old file untouched and no temporary file
// behind, with one line naming the file and the error (once per file and
// request, see dispatch/exchange.hpp). A link that leads elsewhere is a
// failure: nothing outside is written.
int hfp_save_data2(const char *path, const void *buf, int size);

// Loads the size-byte table image at path into table. When the file does not
// give exactly size bytes, copies defaults into table and saves them; a file
// that exists but is short, unreadable or no regular file (a FIFO, a device)
// is first renamed to "<path>.bad" and
// one line saying so is printed. When the file cannot be opened for lack of
// descriptors or memory, it is left alone and table keeps its last loaded
// image (the defaults when its first record is a terminator), with one line
// printed. Returns size when the file was taken, 0 when the table was reset
// from the defaults, and -1 when the file was left alone (not set aside, or
// not openable for now): the table is from memory only, and the caller must
// not save over that file.
int hfp_load_table(const char *path, void *table, const void *defaults, int size);
