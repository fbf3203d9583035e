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
#include <set>
#include <string>

namespace Cli {

std::string safeFileStem(const std::string& textureName);

// Chooses "<stem>.png" or the first free numbered variant. `taken` holds the case-folded names chosen
// so far and receives this one; `blocked` tells whether a file name is occupied by something that
// must not be replaced.
std::string chooseFileName(const std::string& stem, std::set<std::string>& taken,
                           const std::function<bool(const std::string&)>& blocked);

}  // namespace Cli
