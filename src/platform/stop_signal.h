// A process-wide stop request for console programs (the station server): Ctrl-C and SIGTERM on
// POSIX; console Ctrl-C, Ctrl-Break, close, log-off and shut-down events on Windows.
#pragma once

namespace halcyra::platform {

// Installs the handlers once; later calls do nothing. False when the OS refused them.
bool InstallStopHandlers();

// True once a stop was asked for by a signal or RequestStop. Safe from any thread.
bool StopRequested();

// Asks for a stop as a signal would.
void RequestStop();

// For a thread that may block without time limit (and the threads it starts): the stop signals go
// to another thread, which looks at the request. POSIX only; on Windows the console events come on
// a thread of their own anyway.
void KeepStopSignalsOffThisThread();

}  // namespace halcyra::platform
