#pragma once
// The program's command line: an optional narrator file to open at start, and the
// usual --help and --version. It is read before the window system is reached, so
// that --help answers on a machine without a display too.
#include <QString>
#include <optional>

struct CommandLine {
    // Set when the program has answered already and ends with this code: 0 after
    // --help or --version, 2 after an unknown option or surplus arguments.
    std::optional<int> exitCode;
    // The file to open, made absolute against the working folder; empty if none.
    QString file;
};

// Prints the usage, the version or the error itself (stdout, stdout, stderr).
CommandLine ParseCommandLine(int argc, char** argv);

// The sample narrator recording shipped with the program, found beside the
// executable (bin/../share/sayalike, in an installation as in the source tree
// with build/ under it); empty if it is not there.
QString SampleFile();
