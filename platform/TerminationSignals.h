#pragma once
// SIGTERM, SIGINT and SIGHUP as bytes on a pipe (the self-pipe pattern):
// the handler only writes the signal's number, and the program's main loop
// watches the read end and shuts down in its own time.
//
// Returns the pipe's read end (non-blocking, close-on-exec), the same one on
// every call; -1 when the pipe cannot be made.
int InstallTerminationPipe();

// The next signal number waiting on the pipe, 0 when none is.
int TakeTerminationSignal(int readFd);
