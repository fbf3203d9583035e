#include "Platform/FaultSeam.h"

#include <array>
#include <cstddef>
#include <mutex>

namespace FaultSeam {
namespace {

struct Fault {
    Win32::HRESULT code = 0;
    int skip = 0;
    int remaining = 0;
};

// Textures may be made on several threads at once; a test's faults stay exact all the same.
std::mutex guard;

std::array<Fault, static_cast<std::size_t>(Operation::Count)>& faults() {
    static std::array<Fault, static_cast<std::size_t>(Operation::Count)> table;
    return table;
}

std::array<std::function<void(const std::string&)>, static_cast<std::size_t>(Moment::Count)>& actions() {
    static std::array<std::function<void(const std::string&)>, static_cast<std::size_t>(Moment::Count)> table;
    return table;
}

}  // namespace

void injectFault(Operation operation, Win32::HRESULT code, int skipCalls, int times) {
    std::lock_guard<std::mutex> lock(guard);
    faults()[static_cast<std::size_t>(operation)] = Fault{code, skipCalls, times};
}

void clearFaults() {
    std::lock_guard<std::mutex> lock(guard);
    faults().fill(Fault{});
    actions().fill(nullptr);
}

Win32::HRESULT takeFault(Operation operation) {
    std::lock_guard<std::mutex> lock(guard);
    Fault& fault = faults()[static_cast<std::size_t>(operation)];
    if (fault.remaining <= 0)
        return 0;
    if (fault.skip > 0) {
        --fault.skip;
        return 0;
    }
    --fault.remaining;
    return fault.code;
}

void onMoment(Moment moment, std::function<void(const std::string&)> action) {
    actions()[static_cast<std::size_t>(moment)] = std::move(action);
}

void reach(Moment moment, const std::string& detail) {
    const auto& action = actions()[static_cast<std::size_t>(moment)];
    if (action)
        action(detail);
}

}  // namespace FaultSeam
