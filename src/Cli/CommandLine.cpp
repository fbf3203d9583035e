#include "Cli/CommandLine.h"

#include <algorithm>
#include <cctype>

#include "Cli/Modes.h"

namespace Cli {

const std::vector<OptionSpec> kTextureOptions = {
    {"--format", nullptr, true}, {"--mipmaps", nullptr, false}, {"--dither", nullptr, false},
    {"--pow2", nullptr, false},  {"--name", nullptr, true},     {"--mask-name", nullptr, true},
};
const std::vector<OptionSpec> kAddOptions = kTextureOptions;
const std::vector<OptionSpec> kBuildOptions = {
    {"--format", nullptr, true}, {"--mipmaps", nullptr, false},    {"--dither", nullptr, false},
    {"--pow2", nullptr, false},  {"--keep-going", nullptr, false}, {"--quiet", "-q", false},
};
const std::vector<OptionSpec> kExtractOptions = {{"--levels", nullptr, false}};
const std::vector<OptionSpec> kNoOptions = {};

namespace {

std::string lowered(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Edits (insertions, deletions, substitutions, swaps of neighbours) between two words.
std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

std::vector<std::string> knownWords() {
    std::vector<std::string> words = modeOptions();
    for (const auto* table : {&kAddOptions, &kBuildOptions, &kExtractOptions}) {
        for (const OptionSpec& option : *table)
            words.push_back(option.name);
    }
    return words;
}

}  // namespace

bool ParsedArguments::has(const std::string& name) const {
    return value(name) != nullptr;
}

const std::string* ParsedArguments::value(const std::string& name) const {
    for (auto option = options.rbegin(); option != options.rend(); ++option) {
        if (option->first == name)
            return &option->second;
    }
    return nullptr;
}

bool parseArguments(const Arguments& arguments, const std::vector<OptionSpec>& accepted,
                    ParsedArguments& parsed, std::string& why) {
    for (std::size_t at = 0; at < arguments.size(); ++at) {
        const std::string& word = arguments[at];
        if (word == "--") {
            parsed.paths.insert(parsed.paths.end(), arguments.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                                arguments.end());
            return true;
        }
        // A lone "-" is a name, as in most tools; everything else that starts with "-" is an option.
        if (word.size() < 2 || word[0] != '-') {
            parsed.paths.push_back(word);
            continue;
        }
        const std::size_t equals = word.rfind("--", 0) == 0 ? word.find('=') : std::string::npos;
        const std::string name = word.substr(0, equals);
        const auto spec = std::find_if(accepted.begin(), accepted.end(), [&](const OptionSpec& option) {
            return name == option.name || (option.alias && name == option.alias);
        });
        if (spec == accepted.end()) {
            const std::vector<std::string> known = knownWords();
            why = std::find(known.begin(), known.end(), name) != known.end()
                      ? name + " is not an option of this mode (quillpack --help)"
                      : unknownOption(name);
            return false;
        }
        std::string value;
        if (spec->takesValue) {
            if (equals != std::string::npos) {
                value = word.substr(equals + 1);
            } else if (at + 1 < arguments.size()) {
                value = arguments[++at];
            } else {
                why = std::string(spec->name) + " needs a value";
                return false;
            }
        } else if (equals != std::string::npos) {
            why = std::string(spec->name) + " takes no value";
            return false;
        }
        parsed.options.emplace_back(spec->name, value);
    }
    return true;
}

bool parseModeArguments(const Arguments& arguments, const ModeArguments& mode, ParsedArguments& parsed,
                        std::string& why) {
    if (!parseArguments(arguments, mode.options, parsed, why))
        return false;
    if (parsed.paths.size() >= mode.minPaths && parsed.paths.size() <= mode.maxPaths)
        return true;
    why = mode.usage;
    return false;
}

std::string unknownOption(const std::string& word) {
    std::string nearest;
    std::size_t best = 3;  // farther than two edits is no longer a slip of the fingers
    for (const std::string& known : knownWords()) {
        const std::size_t distance = editDistance(lowered(word), known);
        if (distance < best) {
            best = distance;
            nearest = known;
        }
    }
    std::string text = "unknown option " + word;
    if (!nearest.empty())
        text += "; did you mean " + nearest + "?";
    return text + " (quillpack --help)";
}

bool parseFormat(const std::string& value, TXD::TextureFormat& format, std::string& why) {
    struct Named {
        const char* value;
        TXD::TextureFormat format;
    };
    static const Named kFormats[] = {
        {"dxt1", TXD::DXT1}, {"dxt3", TXD::DXT3}, {"32", TXD::Bits32}, {"8", TXD::Bits8}};
    for (const Named& known : kFormats) {
        if (lowered(value) == known.value) {
            format = known.format;
            return true;
        }
    }
    why = "--format takes dxt1, dxt3, 32 or 8, not " + value;
    return false;
}

bool applyTextureOptions(const ParsedArguments& parsed, Dictionary::TextureRequest& request,
                         std::string& why) {
    for (const auto& [name, value] : parsed.options) {
        if (name == "--format") {
            TXD::TextureFormat format;
            if (!parseFormat(value, format, why))
                return false;
            request.format = format;
        } else if (name == "--mipmaps") {
            request.mipMaps = true;
        } else if (name == "--dither") {
            request.dither = true;
        } else if (name == "--pow2") {
            request.pow2 = true;
        } else if (name == "--name") {
            request.name = value;
        } else if (name == "--mask-name") {
            request.maskName = value;
        }
    }
    return true;
}

}  // namespace Cli
