// A cursor over the text header of the Netpbm family (PNM, PAM, PFM): fields separated by
// whitespace, '#' comments to the end of the line where the format allows them. Every read stays
// inside the file; numbers saturate instead of wrapping, so a run of digits cannot pass as small.
#pragma once

#include <string>

#include "ImageService/Decode/Decoders.h"

namespace ImageService::Decode {

class HeaderText {
public:
    explicit HeaderText(Reader& in) : in(in) {}

    std::uint64_t position() const { return in.position(); }
    bool atEnd() { return in.atEnd(); }
    int peek() { return in.peek(); }
    void skip(std::size_t count) { in.skip(count); }  // the caller has seen these bytes

    static bool isSpace(int c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }

    // Skips whitespace and, with `comments`, comments; true when it skipped anything.
    bool skipSpace(bool comments) {
        const std::uint64_t start = position();
        for (int c = peek(); c >= 0; c = peek()) {
            if (isSpace(c)) {
                in.skip(1);
            } else if (comments && c == '#') {
                while (peek() >= 0 && peek() != '\n')
                    in.skip(1);
            } else {
                break;
            }
        }
        return position() != start;
    }

    // Decimal digits at the cursor; false when there are none. Values past kSaturated stay there.
    bool readNumber(std::uint64_t* value) {
        if (!isDigit(peek()))
            return false;
        std::uint64_t result = 0;
        for (int c = peek(); isDigit(c); c = peek()) {
            if (result < kSaturated)
                result = result * 10 + (c - '0');
            in.skip(1);
        }
        *value = result;
        return true;
    }

    // The characters up to the next whitespace, at most kLongestWord of them.
    std::string readWord() {
        std::string word;
        for (int c = peek(); c >= 0 && !isSpace(c) && word.size() < kLongestWord; c = peek()) {
            word.push_back(static_cast<char>(c));
            in.skip(1);
        }
        return word;
    }

    // The single whitespace byte that ends a header before binary data.
    bool takeOneSpace() {
        if (!isSpace(peek()))
            return false;
        in.skip(1);
        return true;
    }

    // Moves past the rest of the line, newline included; false when the file ends first.
    bool skipLine() {
        for (int c = in.get(); c >= 0; c = in.get()) {
            if (c == '\n')
                return true;
        }
        return false;
    }

private:
    static bool isDigit(int c) { return c >= '0' && c <= '9'; }
    static constexpr std::uint64_t kSaturated = 100'000'000'000'000'000;
    static constexpr std::size_t kLongestWord = 64;
    Reader& in;
};

}  // namespace ImageService::Decode
