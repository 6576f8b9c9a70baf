#pragma once

// `jotterel --check-links [--group PATH]`, run without a window: checks the
// addresses of every bookmark (or of a group's branch), prints one line per
// address that is not 正常 (its result, the address, the group path) and a
// closing count of each result. Returns the exit status (0 the check ran, 1
// it could not, 2 the running program holds the data), or -1 when the
// arguments do not ask for it.
int RunLinkCheckCommandLine(int argc, char** argv);
