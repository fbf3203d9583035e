#include "ImageService/Direct3D/Unknown.h"

#include <atomic>

namespace ImageService {
namespace {
std::atomic<std::size_t> liveObjects{0};  // objects are made on every thread that builds textures
}

IUnknown::IUnknown() {
    ++liveObjects;
}
IUnknown::~IUnknown() {
    --liveObjects;
}

ULONG IUnknown::Release() {
    ULONG left = --references;
    if (left == 0)
        delete this;
    return left;
}

std::size_t IUnknown::liveCount() {
    return liveObjects;
}

}  // namespace ImageService
