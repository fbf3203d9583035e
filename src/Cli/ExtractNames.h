// The file each texture is extracted to. Texture names come from an untrusted file, so the name of
// the file is made from a safe alphabet only and never leaves the folder or lands on anything that is
// not a plain file:
// - ASCII letters, digits, '-', '_' and '.' are kept; every other byte (separators, ':', control
//   characters, bytes of 0x80 and above) becomes '_'; a leading '.' becomes '_' too (no "..", no
//   hidden files);
// - an empty name becomes "unnamed"; a name that Windows keeps for a device (CON, PRN, AUX, NUL,
//   COM1-9, LPT1-9, before the first '.') gets a leading '_';
// - the file is "<name>.png"; when an earlier texture of the same run took that name (letters
//   compared without case) or the path holds anything but a regular file (a folder, a link, a device),
//   "-1", "-2", ... is added before ".png" until the name is free.
#pragma once

#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace Cli {

std::string safeFileStem(const std::string& textureName);

// Chooses the names of one run: "<stem>.png" or the first free numbered variant. `blocked` tells
// whether a file name is occupied by something that must not be replaced; it is asked at most once
// per name tried. A stem's search starts past every suffix known to be unavailable, so a run costs
// time in proportion to its textures (and the blocking entries met), whatever their names.
class FileNames {
public:
    explicit FileNames(std::function<bool(const std::string&)> blocked) : blocked(std::move(blocked)) {}

    // A name chosen once is never chosen again, so when its file cannot be placed after all
    // (another process put something there first), choosing again for the stem gives the next one.
    std::string choose(const std::string& stem);
    // Candidates considered so far, in all choices: the measure of the run's work.
    std::size_t candidatesTried() const { return tried; }

private:
    static std::string candidate(const std::string& stem, unsigned suffix);

    std::function<bool(const std::string&)> blocked;
    std::unordered_set<std::string> taken;  // names chosen so far, case-folded
    // Case-folded stem -> every suffix below it is taken (the same for each spelling of the stem).
    std::unordered_map<std::string, unsigned> takenBelow;
    // Exact stem -> every suffix below it is taken or blocked for this spelling. Both only grow: a
    // name once taken stays taken, and a blocking entry is not the run's to remove.
    std::unordered_map<std::string, unsigned> unavailableBelow;
    std::unordered_set<std::string> blockedNames;  // exact names found blocked, asked only once
    std::size_t tried = 0;
};

}  // namespace Cli
