// A whole dictionary from many textures in one call: the same addTexture every mode uses, run for
// several textures at once, each on its own thread with its own archive and device, the finished
// records gathered into one archive in the order asked. At most `workers` textures are in flight, so
// memory stays near the largest textures being made plus the finished blocks.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "Dictionary/TextureRequest.h"
#include "TXD/TXDArchive.h"

namespace Dictionary {

struct BuildItem {
    TextureRequest request;
    std::string label;  // how the person knows it: the image's file name, or "list.txt:12"
};

struct BuildOutcome {
    std::vector<bool> added;        // per item
    std::vector<std::string> whys;  // per item: what was refused, empty when added
};

// Called once per item as it ends, from whichever thread made it, never two calls at once.
using BuildProgress = std::function<void(std::size_t done, std::size_t total, const BuildItem& item)>;

// Threads that pay on this machine: one per core, at most two textures in flight per core pair.
unsigned defaultBuildWorkers();

// Makes every item and appends the ones that succeed to `archive`, in item order. The errors and
// warnings each item logs carry MessageLog::Tag(item index). False when any item failed.
bool buildTextures(TXD::TXDArchive& archive, const std::vector<BuildItem>& items, unsigned workers,
                   const BuildProgress& progress, BuildOutcome& outcome);

// Names each item will be stored under; a name twice (letters in either case) or one the file cannot
// hold is a refusal of that item. Returns the number of refused items.
std::size_t checkBuildNames(const std::vector<BuildItem>& items, BuildOutcome& outcome);

}  // namespace Dictionary
