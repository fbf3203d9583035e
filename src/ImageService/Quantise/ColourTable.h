// An open-addressing hash map from a packed colour to a non-zero 32-bit value, kept at most half full,
// for counting colours and for finding a pixel's colour again when the pixels are rewritten.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ImageService::Quantise {

class ColourTable {
public:
    ColourTable() { resize(kInitialSlots); }

    // The value of `key`, 0 when absent.
    std::uint32_t find(std::uint32_t key) const {
        for (std::size_t slot = slotOf(key);; slot = (slot + 1) & slotMask) {
            if (values[slot] == 0 || keys[slot] == key)
                return values[slot];
        }
    }

    // The value of `key`, inserted as 0 when absent (the caller then stores a non-zero value).
    // Throws std::bad_alloc when the table cannot grow.
    std::uint32_t& findOrInsert(std::uint32_t key) {
        std::size_t slot = slotOf(key);
        for (; values[slot] != 0; slot = (slot + 1) & slotMask) {
            if (keys[slot] == key)
                return values[slot];
        }
        if (2 * (used + 1) > keys.size()) {
            grow();
            for (slot = slotOf(key); values[slot] != 0; slot = (slot + 1) & slotMask) {
            }
        }
        ++used;
        keys[slot] = key;
        return values[slot];
    }

    std::size_t size() const { return used; }

    // Calls f(key, value) for every entry, value by reference.
    template <typename F>
    void forEach(F&& f) {
        for (std::size_t slot = 0; slot < keys.size(); ++slot) {
            if (values[slot] != 0)
                f(keys[slot], values[slot]);
        }
    }

    // Makes room for `entries` keys at once, so a table of known size never rehashes.
    void reserve(std::size_t entries) {
        std::size_t slots = kInitialSlots;
        while (slots < 2 * entries)
            slots *= 2;
        if (slots > keys.size())
            rehash(slots);
    }

private:
    static constexpr std::size_t kInitialSlots = 1024;

    std::size_t slotOf(std::uint32_t key) const { return (key * 0x9E3779B1u) >> shift; }

    void resize(std::size_t slots) {
        keys.assign(slots, 0);
        values.assign(slots, 0);
        slotMask = slots - 1;
        shift = 32;
        for (std::size_t s = slots; s > 1; s /= 2)
            --shift;
    }

    void rehash(std::size_t slots) {
        ColourTable bigger(slots);
        for (std::size_t slot = 0; slot < keys.size(); ++slot) {
            if (values[slot] != 0)
                bigger.findOrInsert(keys[slot]) = values[slot];
        }
        *this = std::move(bigger);
    }

    void grow() { rehash(2 * keys.size()); }

    explicit ColourTable(std::size_t slots) { resize(slots); }

    std::vector<std::uint32_t> keys, values;
    std::size_t slotMask = 0;
    unsigned shift = 32;
    std::size_t used = 0;
};

}  // namespace ImageService::Quantise
