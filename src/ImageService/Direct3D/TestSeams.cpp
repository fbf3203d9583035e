#include "ImageService/Direct3D/TestSeams.h"

#include "ImageService/Direct3D/Unknown.h"

namespace ImageService::TestSeams {

std::size_t liveObjectCount() {
    return IUnknown::liveCount();
}

}  // namespace ImageService::TestSeams
