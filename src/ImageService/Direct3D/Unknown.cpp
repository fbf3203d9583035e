#include "ImageService/Direct3D/Unknown.h"

namespace ImageService {
namespace {
std::size_t liveObjects = 0;
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
