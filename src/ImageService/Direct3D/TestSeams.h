// The image service's seams for tests, never reachable from the command line: make a chosen service
// operation fail with a chosen result code (the fault seam below it, Platform/FaultSeam.h), and count
// the live service objects so a test can prove that a failure path released everything it made.
#pragma once

#include <cstddef>

#include "ImageService/Direct3D/Types.h"
#include "Platform/FaultSeam.h"

namespace ImageService {

using FaultSeam::Operation;

namespace TestSeams {

using FaultSeam::clearFaults;
using FaultSeam::injectFault;
using FaultSeam::takeFault;

// Objects created by the service and not yet destroyed (textures, surfaces, devices, buffers...).
std::size_t liveObjectCount();

}  // namespace TestSeams
}  // namespace ImageService
