#include "Cli/BuildSources.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "Cli/CommandLine.h"
#include "Common/STDFunctions/STDFunctions.h"
#include "Dictionary/FolderRule.h"
#include "ImageService/D3DX/D3DX.h"
#include "Platform/Files.h"

namespace Cli {
namespace {

namespace fs = std::filesystem;

// A list file is text a person wrote; a larger one is no list file.
constexpr std::uint64_t kMaxListBytes = std::uint64_t{16} << 20;

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder == ".")
        return name;
    const char last = folder.back();
    return last == '/' || last == '\\' ? folder + name : folder + "/" + name;
}

bool isAbsolute(const std::string& path) {
    return (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
           (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0])));
}

bool isImage(const std::string& path) {
    if (path.size() >= STDFunctions::kMaxWideLength)
        return false;
    Win32::WCHAR wide[STDFunctions::kMaxWideLength + 1];
    return ImageService::isImageFile(STDFunctions::stringToLPCWSTR(path, wide));
}

// The folder part of a path, either separator; "." for a bare name.
std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

}  // namespace

bool itemsFromFolder(const std::string& folder, const Dictionary::TextureRequest& defaults,
                     std::vector<Dictionary::BuildItem>& items, std::vector<std::string>& problems) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(fs::u8path(folder), error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().u8string();
        if (entry->is_regular_file(error) && isImage(joined(folder, name)))
            names.push_back(name);
    }
    if (error) {
        problems.push_back(folder + ": " + error.message());
        return false;
    }
    // Bytewise, so that the archive is the same on every file system.
    std::sort(names.begin(), names.end());
    for (const Dictionary::FolderTexture& texture : Dictionary::pairMasks(names, problems)) {
        Dictionary::BuildItem item{defaults, texture.image};
        item.request.imagePath = joined(folder, texture.image);
        if (texture.alpha)
            item.request.alphaPath = joined(folder, *texture.alpha);
        items.push_back(item);
    }
    return true;
}

bool splitListLine(const std::string& line, std::vector<std::string>& words) {
    words.clear();
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
            ++at;
        if (at >= line.size() || line[at] == '#')
            break;
        std::string word;
        while (at < line.size() && line[at] != ' ' && line[at] != '\t') {
            const char quote = line[at];
            if (quote == '"' || quote == '\'') {
                const std::size_t close = line.find(quote, at + 1);
                if (close == std::string::npos)
                    return false;
                word += line.substr(at + 1, close - at - 1);
                at = close + 1;
            } else {
                word += line[at++];
            }
        }
        words.push_back(word);
    }
    return true;
}

bool itemsFromList(const std::string& listPath, const Dictionary::TextureRequest& defaults,
                   std::vector<Dictionary::BuildItem>& items, std::vector<std::string>& problems) {
    Platform::InputFile in;
    if (!in.open(listPath)) {
        problems.push_back(listPath + ": " + in.reason());
        return false;
    }
    if (in.size() > kMaxListBytes) {
        problems.push_back(listPath + ": " + std::to_string(in.size()) +
                           " bytes is too long for a list file");
        return false;
    }
    std::string text(static_cast<std::size_t>(in.size()), '\0');
    std::size_t read = 0;
    for (std::int64_t got = 1; read < text.size() && got > 0; read += static_cast<std::size_t>(got)) {
        got = in.read(&text[read], text.size() - read);
        if (got < 0) {
            problems.push_back(listPath + ": " + in.reason());
            return false;
        }
    }
    text.resize(read);

    const std::string base = folderOf(listPath);
    std::size_t number = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string where = listPath + ":" + std::to_string(number);
        std::vector<std::string> words;
        if (!splitListLine(line, words)) {
            problems.push_back(where + ": a quote is not closed");
            continue;
        }
        if (words.empty())
            continue;
        ParsedArguments parsed;
        Dictionary::BuildItem item{defaults, where};
        std::string why;
        if (!parseArguments(words, kTextureOptions, parsed, why) ||
            !applyTextureOptions(parsed, item.request, why)) {
            problems.push_back(where + ": " + why);
            continue;
        }
        if (parsed.paths.empty() || parsed.paths.size() > 2) {
            problems.push_back(where + ": a line holds an image, an optional alpha image and options");
            continue;
        }
        const auto resolved = [&](const std::string& path) {
            return isAbsolute(path) ? path : joined(base, path);
        };
        item.request.imagePath = resolved(parsed.paths[0]);
        if (parsed.paths.size() == 2)
            item.request.alphaPath = parsed.paths[1].empty() ? "" : resolved(parsed.paths[1]);
        item.label = where + " " + parsed.paths[0];
        items.push_back(item);
    }
    return true;
}

}  // namespace Cli
