// `mirelweb-db hold`: the library's maintenance takes the database mutex
// exclusively, so that no visitor's request reads a table while the library
// system rewrites it.
//
//   mirelweb-db hold [--wait SECONDS] -- COMMAND [ARG...]
//   mirelweb-db hold [--wait SECONDS] --for SECONDS
//
// The first form waits for the mutex (at most --wait seconds, 60 by
// default; the requests that hold it finish within their time limits, and
// requests that arrive meanwhile wait behind the hold), runs COMMAND with
// the mutex held, and releases it when COMMAND ends, however it ends. The
// exit status is COMMAND's (128 + the signal when a signal ended it, 126 or
// 127 when it could not be started). SIGTERM, SIGINT, SIGHUP and SIGQUIT
// sent to the hold are passed on to COMMAND, and the hold releases the
// mutex once COMMAND has ended. COMMAND does not inherit the lock: a process
// it leaves behind in the background does not keep visitors out.
//
// The second form holds the mutex for SECONDS and releases it; a signal that
// ends it earlier releases it too (the kernel drops the lock of a process
// that ends).
//
// The lock file is the web program's: $TMPDIR/MirelWebMutex, so run the hold
// with the TMPDIR the web server gives the program. Run by root, the hold
// gives a lock file that it creates to the owner of its directory (the web
// server's user), and refuses to create one in a directory of root's, where
// the web server could not open it. A mutex not obtained in time exits with
// status 75 without running COMMAND; a usage error exits with 2, any other
// failure with 1.
#pragma once

namespace Mirel::Tools {

// Runs `mirelweb-db hold`; `argv` holds the arguments after "hold". Returns
// the exit status.
int run_hold(int argc, char** argv);

}  // namespace Mirel::Tools
