#pragma once

#include "App/QuorvelApp.h"

// The whole program, as main() runs it: the application object, the one-instance check (a
// later launch only asks the running instance to show its window, and exits), the
// application with its main window, the event loop, and then the teardown in order: the
// windows, every router's driver, the work still queued on the UI thread, and the serial
// queues, all before the application object goes. Returns the process's exit status.
int runQuorvel(int &argc, char **argv, QuorvelAppOptions options = {});
