// Process entry: everything between the command line and the exit status.
#pragma once

// The whole program: logging, command line, configuration, run. Returns the exit status:
// 0 when the job ran (whatever its outcome), -1 otherwise.
int marluneMain(int argc, char** argv);
