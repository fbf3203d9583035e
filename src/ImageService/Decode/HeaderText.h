// A cursor over the text header of the Netpbm family (PNM, PAM, PFM): fields separated by
// whitespace, '#' comments to the end of the line where the format allows them. Every read stays
// inside the file; numbers saturate instead of wrapping, so a run of digits cannot pass as small.
#pragma once

#include <string>

#include "ImageService/Decode/Decoders.h"

namespace ImageService::Decode {

class HeaderText {
public:
    HeaderText(ByteView file, std::size_t at) : file(file), at(at) {}

    std::size_t position() const { return at; }
    bool atEnd() const { return at >= file.size; }
    int peek() const { return atEnd() ? -1 : file.data[at]; }
    void skip(std::size_t count) { at += count; }  // the caller has seen these bytes

    static bool isSpace(int c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }

    // Skips whitespace and, with `comments`, comments; true when it skipped anything.
    bool skipSpace(bool comments) {
        const std::size_t start = at;
        while (!atEnd()) {
            if (isSpace(file.data[at])) {
                ++at;
            } else if (comments && file.data[at] == '#') {
                while (!atEnd() && file.data[at] != '\n')
                    ++at;
            } else {
                break;
            }
        }
        return at != start;
    }

    // Decimal digits at the cursor; false when there are none. Values past kSaturated stay there.
    bool readNumber(std::uint64_t* value) {
        if (atEnd() || file.data[at] < '0' || file.data[at] > '9')
            return false;
        std::uint64_t result = 0;
        while (!atEnd() && file.data[at] >= '0' && file.data[at] <= '9') {
            if (result < kSaturated)
                result = result * 10 + (file.data[at] - '0');
            ++at;
        }
        *value = result;
        return true;
    }

    // The characters up to the next whitespace, at most kLongestWord of them.
    std::string readWord() {
        std::string word;
        while (!atEnd() && !isSpace(file.data[at]) && word.size() < kLongestWord)
            word.push_back(static_cast<char>(file.data[at++]));
        return word;
    }

    // The single whitespace byte that ends a header before binary data.
    bool takeOneSpace() {
        if (atEnd() || !isSpace(file.data[at]))
            return false;
        ++at;
        return true;
    }

    // Moves past the rest of the line, newline included; false when the file ends first.
    bool skipLine() {
        while (!atEnd() && file.data[at] != '\n')
            ++at;
        if (atEnd())
            return false;
        ++at;
        return true;
    }

private:
    static constexpr std::uint64_t kSaturated = 100'000'000'000'000'000;
    static constexpr std::size_t kLongestWord = 64;
    ByteView file;
    std::size_t at;
};

}  // namespace ImageService::Decode
