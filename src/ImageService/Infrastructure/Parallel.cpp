#include "ImageService/Infrastructure/Parallel.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

#include "Platform/Process.h"

namespace ImageService {

unsigned workerCount(std::size_t count, std::size_t minimumPieces, unsigned maxThreads) {
    unsigned cores = Platform::workerThreads();
    if (maxThreads != 0)
        cores = std::min(cores, maxThreads);
    if (count < std::max<std::size_t>(minimumPieces, 2))
        return 1;
    return static_cast<unsigned>(std::min<std::size_t>(cores, count));
}

void forEachPieceOnWorkers(std::size_t count, std::size_t minimumPieces, unsigned maxThreads,
                           const std::function<void(std::size_t, unsigned)>& work) {
    const unsigned workers = workerCount(count, minimumPieces, maxThreads);
    if (workers == 1) {
        for (std::size_t piece = 0; piece < count; ++piece)
            work(piece, 0);
        return;
    }
    std::atomic<std::size_t> next{0};
    auto drain = [&](unsigned worker) {
        for (std::size_t piece = next++; piece < count; piece = next++)
            work(piece, worker);
    };
    std::vector<std::thread> helpers;
    for (unsigned worker = 1; worker < workers; ++worker) {
        try {
            helpers.emplace_back(drain, worker);
        } catch (const std::system_error&) {
            break;  // no more threads to be had: the ones running (and this one) finish the job
        }
    }
    drain(0);
    for (std::thread& helper : helpers)
        helper.join();
}

std::size_t coreCount() {
    return Platform::workerThreads();
}

void forEachPiece(std::size_t count, std::size_t minimumPieces, const std::function<void(std::size_t)>& work,
                  std::size_t threads) {
    const unsigned cap = static_cast<unsigned>(std::min<std::size_t>(threads, 1u << 16));
    forEachPieceOnWorkers(count, minimumPieces, cap, [&](std::size_t piece, unsigned) { work(piece); });
}

}  // namespace ImageService
