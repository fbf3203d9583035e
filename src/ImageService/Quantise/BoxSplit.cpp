#include "ImageService/Quantise/BoxSplit.h"

#include <algorithm>
#include <numeric>

namespace ImageService::Quantise {
namespace {

struct Box {
    std::uint32_t begin, end;  // a range of `order`
    std::uint64_t weight = 0;
    ChannelSums sum{};
    int cutChannel = -1;  // -1: a single sample, nothing to cut
    int cutValue = 0;     // samples whose channel is at most this go left
    double gain = 0;      // squared error the cut removes
};

// |sum|^2 / weight: the squared error of a group is its sum of squares less this, so a cut's gain is
// the children's terms less the parent's. Added in a fixed order so that every platform agrees.
double centroidTerm(const ChannelSums& sum, std::uint64_t weight) {
    double term = 0;
    for (int c = 0; c < kChannels; ++c)
        term += static_cast<double>(sum[c]) * static_cast<double>(sum[c]);
    return term / static_cast<double>(weight);
}

struct Bin {
    std::uint64_t weight;
    ChannelSums sum;
};

// The box's totals, and its best cut over every channel and value (the first of equal gains).
void measure(const Samples& samples, const std::vector<std::uint32_t>& order, int channels, Box& box) {
    box.weight = 0;
    box.sum = {};
    for (std::uint32_t i = box.begin; i < box.end; ++i) {
        const std::uint32_t s = order[i];
        box.weight += samples.weight[s];
        for (int c = 0; c < kChannels; ++c)
            box.sum[c] += samples.sum[s][c];
    }
    box.cutChannel = -1;
    if (box.end - box.begin < 2)
        return;
    const double parent = centroidTerm(box.sum, box.weight);
    static thread_local Bin bins[256];
    for (int axis = 0; axis < channels; ++axis) {
        std::fill(std::begin(bins), std::end(bins), Bin{});
        for (std::uint32_t i = box.begin; i < box.end; ++i) {
            const std::uint32_t s = order[i];
            Bin& bin = bins[samples.colour[s].channel[axis]];
            bin.weight += samples.weight[s];
            for (int c = 0; c < kChannels; ++c)
                bin.sum[c] += samples.sum[s][c];
        }
        Bin left{};
        for (int value = 0; value < 255; ++value) {
            if (bins[value].weight == 0)
                continue;
            left.weight += bins[value].weight;
            for (int c = 0; c < kChannels; ++c)
                left.sum[c] += bins[value].sum[c];
            if (left.weight == box.weight)
                break;
            ChannelSums right;
            for (int c = 0; c < kChannels; ++c)
                right[c] = box.sum[c] - left.sum[c];
            const double gain =
                centroidTerm(left.sum, left.weight) + centroidTerm(right, box.weight - left.weight) - parent;
            if (box.cutChannel < 0 || gain > box.gain) {
                box.cutChannel = axis;
                box.cutValue = value;
                box.gain = gain;
            }
        }
    }
}

}  // namespace

void splitIntoBoxes(const Samples& samples, std::uint32_t count, int channels,
                    std::vector<std::uint8_t>& boxOf, std::vector<Colour>& means) {
    std::vector<std::uint32_t> order(samples.size());
    std::iota(order.begin(), order.end(), 0u);
    std::vector<Box> boxes;
    boxes.reserve(count);
    boxes.push_back(Box{0, static_cast<std::uint32_t>(order.size())});
    measure(samples, order, channels, boxes[0]);
    while (boxes.size() < count) {
        std::size_t chosen = boxes.size();
        for (std::size_t b = 0; b < boxes.size(); ++b) {
            if (boxes[b].cutChannel >= 0 && (chosen == boxes.size() || boxes[b].gain > boxes[chosen].gain))
                chosen = b;
        }
        if (chosen == boxes.size())
            break;
        Box& box = boxes[chosen];
        const int axis = box.cutChannel, value = box.cutValue;
        // Which side a sample lands on depends only on its colour, so the partition's own order
        // (which may differ between standard libraries) changes no sum and no result.
        const auto middle =
            std::partition(order.begin() + box.begin, order.begin() + box.end,
                           [&](std::uint32_t s) { return samples.colour[s].channel[axis] <= value; });
        Box right{static_cast<std::uint32_t>(middle - order.begin()), box.end};
        box.end = right.begin;
        measure(samples, order, channels, box);
        measure(samples, order, channels, right);
        boxes.push_back(right);
    }
    boxOf.assign(samples.size(), 0);
    means.resize(boxes.size());
    for (std::size_t b = 0; b < boxes.size(); ++b) {
        means[b] = roundedMean(boxes[b].sum, boxes[b].weight);
        for (std::uint32_t i = boxes[b].begin; i < boxes[b].end; ++i)
            boxOf[order[i]] = static_cast<std::uint8_t>(b);
    }
}

}  // namespace ImageService::Quantise
