// Runs independent pieces of work on every core. Pieces are handed out one at a time from a shared
// counter, so a core that drew cheap pieces (flat blocks compress fast) takes more of them.
#pragma once

#include <cstddef>
#include <functional>

namespace ImageService {

// The threads forEachPiece uses when not told otherwise: one per core.
std::size_t coreCount();

// Calls work(piece) once for each piece in [0, count). Pieces run concurrently, in no set order;
// the call returns when all are done. Small jobs (fewer than `minimumPieces`) stay on this thread.
// `threads` caps the threads used (this one included); 0 means one per core.
void forEachPiece(std::size_t count, std::size_t minimumPieces, const std::function<void(std::size_t)>& work,
                  std::size_t threads = 0);

}  // namespace ImageService
