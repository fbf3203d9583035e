// How every mode reads its arguments, as the tools people know do: options anywhere before "--", in
// any order, as "--name value" or "--name=value", option values in any case; an unknown option is
// named together with the known one nearest to it.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "Dictionary/TextureRequest.h"
#include "TXD/TXDArchive.h"

namespace Cli {

using Arguments = std::vector<std::string>;

struct OptionSpec {
    const char* name;   // "--format"
    const char* alias;  // "-q", or nullptr
    bool takesValue;
};

// The options each mode accepts; the texture options are shared by --add, --build and build lists.
extern const std::vector<OptionSpec> kTextureOptions;
extern const std::vector<OptionSpec> kAddOptions;
extern const std::vector<OptionSpec> kBuildOptions;
extern const std::vector<OptionSpec> kExtractOptions;
extern const std::vector<OptionSpec> kNoOptions;

struct ParsedArguments {
    std::vector<std::string> paths;                            // what is not an option, in order
    std::vector<std::pair<std::string, std::string>> options;  // long name and value ("" for a flag)

    bool has(const std::string& name) const;
    // The value given last, or nullptr.
    const std::string* value(const std::string& name) const;
};

// False with the reason for an unknown option or a missing value.
bool parseArguments(const Arguments& arguments, const std::vector<OptionSpec>& accepted,
                    ParsedArguments& parsed, std::string& why);

// A mode's command line: its options, how many paths it takes, and the usage line that names them.
struct ModeArguments {
    const std::vector<OptionSpec>& options;
    std::size_t minPaths;
    std::size_t maxPaths;
    const char* usage;  // "--list takes one archive: quillpack --list <archive.txd>"
};

// parseArguments, then the count of paths; a wrong count gives the usage line as the reason.
bool parseModeArguments(const Arguments& arguments, const ModeArguments& mode, ParsedArguments& parsed,
                        std::string& why);

// "unknown option --lsit; did you mean --list? (quillpack --help)": the nearest mode or option by
// spelling, when one is near enough.
std::string unknownOption(const std::string& word);

// dxt1, dxt3, 32 or 8, in any case.
bool parseFormat(const std::string& value, TXD::TextureFormat& format, std::string& why);

// Applies the texture options that were given (--format, --mipmaps, --dither, --pow2, --name,
// --mask-name) to `request`, leaving what was not given as it was: a list file's line starts from the
// command line's options.
bool applyTextureOptions(const ParsedArguments& parsed, Dictionary::TextureRequest& request,
                         std::string& why);

}  // namespace Cli
