// The let-off button command.
#pragma once

// PUT handler: prints the text up to its first NUL and a line end.
int MLETOFF_set_btnstat(char *data, int len);
