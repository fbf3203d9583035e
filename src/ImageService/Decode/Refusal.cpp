#include <cstdarg>
#include <cstdio>

#include "Common/FailureReason.h"
#include "ImageService/Decode/Decoders.h"

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

}  // namespace ImageService::Decode
