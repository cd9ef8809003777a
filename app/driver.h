// app/: the program's entry, its command line and the run driver, which decides
// every read and write (the platform layer carries them out) and turns any failure
// into the one report "PROGRAM: MESSAGE" on the error stream with exit status 1.
#pragma once

#include <string>
#include <vector>

#include "app/options.h"
#include "base/output.h"

namespace qv {

// The page's path: the first -o/--output value, else "quiltpage.html".
std::string outputFileName(const std::vector<Flag>& flags);

// The command as invoked, without anything up to its last "/" or "\"; a
// separator in the first position does not count.
std::string programName(const std::string& argv0);

// Runs the whole job. args[0] is the command as invoked. Returns the exit status.
// For a terminal, the drawing shows the labels' control characters visibly.
int run(const std::vector<std::string>& args, Sink& standardOutput, Sink& standardError,
        bool outputIsTerminal = false);

// main(): runs with the process arguments and the standard streams.
int runMain(int argc, char** argv);

}  // namespace qv
