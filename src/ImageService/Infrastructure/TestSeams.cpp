#include "ImageService/Infrastructure/TestSeams.h"

#include <array>

#include "ImageService/Direct3D/Unknown.h"

namespace ImageService {
namespace {

struct Fault {
    HRESULT code = D3D_OK;
    int skip = 0;
    int remaining = 0;
};

std::array<Fault, static_cast<std::size_t>(Operation::Count)>& faults() {
    static std::array<Fault, static_cast<std::size_t>(Operation::Count)> table;
    return table;
}

}  // namespace

namespace TestSeams {

void injectFault(Operation operation, HRESULT code, int skipCalls, int times) {
    faults()[static_cast<std::size_t>(operation)] = Fault{code, skipCalls, times};
}

void clearFaults() {
    faults().fill(Fault{});
}

HRESULT takeFault(Operation operation) {
    Fault& fault = faults()[static_cast<std::size_t>(operation)];
    if (fault.remaining <= 0)
        return D3D_OK;
    if (fault.skip > 0) {
        --fault.skip;
        return D3D_OK;
    }
    --fault.remaining;
    return fault.code;
}

std::size_t liveObjectCount() {
    return IUnknown::liveCount();
}

}  // namespace TestSeams
}  // namespace ImageService
