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

// How many threads (this one included) forEachPieceOnWorkers gives a job, with at most `maxThreads`
// when that is not 0: a caller that needs working memory per thread allocates that many sets first,
// so that nothing can fail once pieces have started writing.
unsigned workerCount(std::size_t count, std::size_t minimumPieces, unsigned maxThreads);

// As forEachPiece on at most `maxThreads` threads (0: every core), also telling each call which worker
// (below workerCount) runs it. A worker runs one piece at a time.
void forEachPieceOnWorkers(std::size_t count, std::size_t minimumPieces, unsigned maxThreads,
                           const std::function<void(std::size_t piece, unsigned worker)>& work);

}  // namespace ImageService
