// Process entry: everything between the command line and the exit status.
#pragma once

// The whole program: logging, command line, configuration, run. Returns the exit status: 0 when
// the job ran and its result was written (whatever its outcome), 1 when the job ran but its
// result could not be written, -1 when no job ran; or ends the process as a request to end it
// would have.
int marluneMain(int argc, char** argv);
