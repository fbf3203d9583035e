// The process around the tool: its command line, its standard streams, its threads, and the signals
// (on Windows, console control events) that may end it. Only the entry installs the handlers; the library
// only registers the temporary file that a save is writing.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace Platform {

// The arguments as UTF-8, program name first. On POSIX these are argv's bytes; on Windows they come
// from the wide command line, so names outside the console's code page arrive intact.
std::vector<std::string> commandLine(int argc, char** argv);

// SIGPIPE and SIGXFSZ are ignored, so a closed pipe or a file-size limit becomes a write error the
// caller reports; SIGINT, SIGTERM and SIGHUP (Ctrl+C, Ctrl+Break and closing the console on Windows)
// remove the registered temporary file and then end the process as the signal would have.
void installInterruptHandlers();

// The one temporary file to remove if the process is interrupted; registering replaces the previous
// one. The name is copied into a fixed buffer the handler can use without allocating.
void registerTemporary(const std::string& path);
void unregisterTemporary();

bool isTerminal(std::FILE* stream);

// The system's own way of asking a console program for help besides -h and --help: "/?" on Windows,
// nothing more elsewhere (where "/?" is a path).
bool isSystemHelpSwitch(const std::string& argument);

// How many threads the image work may run at once: one per core, or 1 where the process cannot
// start threads at all (WebAssembly without shared memory, where starting one would abort).
unsigned workerThreads();

// A standard stream the process was started without (a closed descriptor, as `quillpack ... >&-`
// gives) is taken by a descriptor that refuses it: writing to standard output then fails as it
// should, rather than landing in whichever file is opened next and takes the free number.
void holdClosedStandardStreams();

// Standard output and standard error carry the same bytes on every system: on Windows they leave the
// C runtime's text mode, which would write each "\n" as "\r\n" (a console shows a bare "\n" as a
// new line all the same).
void useBinaryStandardStreams();

}  // namespace Platform
