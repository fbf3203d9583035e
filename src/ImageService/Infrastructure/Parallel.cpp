#include "ImageService/Infrastructure/Parallel.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace ImageService {

std::size_t coreCount() {
    return std::max(1u, std::thread::hardware_concurrency());
}

void forEachPiece(std::size_t count, std::size_t minimumPieces, const std::function<void(std::size_t)>& work,
                  std::size_t threads) {
    const std::size_t cores = threads == 0 ? coreCount() : threads;
    if (count < std::max<std::size_t>(minimumPieces, 2) || cores == 1) {
        for (std::size_t piece = 0; piece < count; ++piece)
            work(piece);
        return;
    }
    std::atomic<std::size_t> next{0};
    auto drain = [&] {
        for (std::size_t piece = next++; piece < count; piece = next++)
            work(piece);
    };
    std::vector<std::thread> helpers;
    std::size_t wanted = std::min(cores, count) - 1;
    for (std::size_t i = 0; i < wanted; ++i) {
        try {
            helpers.emplace_back(drain);
        } catch (const std::system_error&) {
            break;  // no more threads to be had: the ones running (and this one) finish the job
        }
    }
    drain();
    for (std::thread& helper : helpers)
        helper.join();
}

}  // namespace ImageService
