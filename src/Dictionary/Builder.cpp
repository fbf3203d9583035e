#include "Dictionary/Builder.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "Common/MessageLog.h"
#include "Common/STDFunctions/STDFunctions.h"
#include "ImageService/D3DX/D3DX.h"
#include "Platform/Process.h"

namespace Dictionary {
namespace {

using namespace ImageService;

// A device for image work alone: the drawing resources a render system sets up beside it play no
// part in making textures.
IDirect3DDevice9* makeWorkDevice() {
    IDirect3D9* direct3D = Direct3DCreate9(D3D_SDK_VERSION);
    if (!direct3D)
        return nullptr;
    D3DPRESENT_PARAMETERS parameters{};
    parameters.Windowed = 1;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    IDirect3DDevice9* device = nullptr;
    if (FAILED(direct3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, Win32::GetForegroundWindow(),
                                      D3DCREATE_SOFTWARE_VERTEXPROCESSING, &parameters, &device)))
        device = nullptr;
    direct3D->Release();
    return device;
}

// Pixels the image's header promises; 0 when it does not read (its add will say why).
std::uint64_t pixelsOf(const std::string& path) {
    if (path.size() >= STDFunctions::kMaxWideLength)
        return 0;
    Win32::WCHAR wide[STDFunctions::kMaxWideLength + 1];
    D3DXIMAGE_INFO info{};
    if (FAILED(D3DXGetImageInfoFromFileW(STDFunctions::stringToLPCWSTR(path, wide), &info)))
        return 0;
    return std::uint64_t{info.Width} * info.Height;
}

// The largest textures first: a large one started last would leave the other threads idle while it
// ends. The records still take the order asked.
std::vector<std::size_t> largestFirst(const std::vector<BuildItem>& items) {
    std::vector<std::uint64_t> pixels;
    for (const BuildItem& item : items)
        pixels.push_back(pixelsOf(item.request.imagePath));
    std::vector<std::size_t> order(items.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return pixels[a] > pixels[b]; });
    return order;
}

}  // namespace

unsigned defaultBuildWorkers() {
    return std::max(1u, std::min(2u, Platform::workerThreads()));
}

std::size_t checkBuildNames(const std::vector<BuildItem>& items, BuildOutcome& outcome) {
    outcome.added.assign(items.size(), false);
    outcome.whys.assign(items.size(), "");
    std::map<std::string, std::size_t> first;
    std::size_t refused = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        std::string name, maskName;
        if (!storedNames(items[i].request, name, maskName, outcome.whys[i])) {
            ++refused;
            continue;
        }
        auto [at, fresh] = first.emplace(TXD::foldedName(name), i);
        if (!fresh) {
            outcome.whys[i] = "the texture name " + name + " is also the name of " + items[at->second].label;
            ++refused;
        }
    }
    return refused;
}

bool buildTextures(TXD::TXDArchive& archive, const std::vector<BuildItem>& items, unsigned workers,
                   const BuildProgress& progress, BuildOutcome& outcome) {
    outcome.added.assign(items.size(), false);
    outcome.whys.resize(items.size());
    std::vector<TXD::TextureRecord> records(items.size());
    const std::vector<std::size_t> order = largestFirst(items);
    std::atomic<std::size_t> next{0};
    std::size_t done = 0;
    std::mutex reporting;

    auto work = [&] {
        IDirect3DDevice9* device = makeWorkDevice();
        for (std::size_t taken = next++; taken < items.size(); taken = next++) {
            const std::size_t index = order[taken];
            MessageLog::Tag tag(static_cast<int>(index));
            TXD::TXDArchive one;
            one.version = archive.version;
            AddResult result;
            std::string& why = outcome.whys[index];
            if (!device) {
                why = "no device for the image work";
            } else if (addTexture(one, device, items[index].request, result, why)) {
                records[index] = one.textures.back();
                // The record moves to the whole archive: the texture keeps its one reference.
                one.textures.pop_back();
                records[index].texture->forgetExactPixels();
                outcome.added[index] = true;
            }
            std::lock_guard<std::mutex> lock(reporting);
            ++done;
            if (progress)
                progress(done, items.size(), items[index]);
        }
        if (device)
            device->Release();
    };

    std::vector<std::thread> helpers;
    const std::size_t wanted = std::min<std::size_t>(std::max(1u, workers), items.size());
    for (std::size_t i = 1; i < wanted; ++i) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // the threads there are do the work
        }
    }
    work();
    for (std::thread& helper : helpers)
        helper.join();

    bool all = true;
    for (std::size_t index = 0; index < items.size(); ++index) {
        if (outcome.added[index])
            archive.appendTexture(records[index]);
        else
            all = false;
    }
    if (std::find(outcome.added.begin(), outcome.added.end(), true) != outcome.added.end())
        archive.changed = true;
    return all;
}

}  // namespace Dictionary
