// --version: the tool's version, then one line per library it runs with, so that a bug report says
// which decoder and encoder builds were in play. Versions come from the libraries themselves where
// they can tell (the shared ones may be newer than the headers), else from the build.
#include <jconfig.h>
#include <spng.h>
#include <zlib.h>

#include <cstdio>

#include "Cli/Modes.h"
#include "Cli/Report.h"

#ifndef QUILLPACK_VERSION
#define QUILLPACK_VERSION "unknown"
#endif
// libsquish has no version function; the build passes the version of the package it was built with.
#ifndef QUILLPACK_SQUISH_VERSION
#define QUILLPACK_SQUISH_VERSION "(version unknown)"
#endif
// libjpeg has no version function either, and libjpeg-turbo's headers state it as a bare number.
#define QUILLPACK_STRING(x) #x
#define QUILLPACK_EXPANDED_STRING(x) QUILLPACK_STRING(x)

namespace Cli {

int runVersion(const Arguments&) {
    std::printf("quillpack %s\n", QUILLPACK_VERSION);
    std::printf("libspng %s\n", spng_version_string());
    std::printf("libjpeg-turbo %s\n", QUILLPACK_EXPANDED_STRING(LIBJPEG_TURBO_VERSION));
    std::printf("libsquish %s\n", QUILLPACK_SQUISH_VERSION);
    std::printf("zlib %s\n", zlibVersion());
    return kExitSuccess;
}

}  // namespace Cli
