#include <climits>
#include <cstdarg>
#include <cstdio>

#include "ImageService/Decode/Decoders.h"
#include "Platform/FailureReason.h"

namespace ImageService::Decode {

HRESULT refuse(const char* format, ...) {
    char text[400];
    va_list values;
    va_start(values, format);
    std::vsnprintf(text, sizeof text, format, values);
    va_end(values);
    FailureReason::note("%s", text);
    return D3DXERR_INVALIDDATA;
}

HRESULT refuseShortRead(const char* format, const Source& file) {
    return refuse("truncated %s: the file ended at byte %s while it was read", format,
                  grouped(file.size()).c_str());
}

std::string grouped(std::uint64_t count) {
    std::string digits = std::to_string(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ",");
    return digits;
}

HRESULT checkDeclaredSides(const char* format, std::uint64_t width, std::uint64_t height) {
    if (width != 0 && height != 0 && width <= UINT_MAX && height <= UINT_MAX)
        return D3D_OK;
    return refuse("damaged %s header: %s x %s pixels", format, grouped(width).c_str(),
                  grouped(height).c_str());
}

}  // namespace ImageService::Decode
