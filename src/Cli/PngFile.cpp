#include "Cli/PngFile.h"

#include <spng.h>

#include <cstdlib>
#include <memory>

namespace Cli {
namespace {

struct ContextFree {
    void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};

}  // namespace

bool encodePng(std::uint32_t width, std::uint32_t height, const std::vector<std::uint8_t>& pixels,
               std::vector<std::uint8_t>& png, std::string& why) {
    std::unique_ptr<spng_ctx, ContextFree> context(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!context) {
        why = "no PNG encoder";
        return false;
    }
    spng_set_option(context.get(), SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr header{};
    header.width = width;
    header.height = height;
    header.bit_depth = 8;
    header.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    int error = spng_set_ihdr(context.get(), &header);
    if (error == 0)
        error = spng_encode_image(context.get(), pixels.data(), pixels.size(), SPNG_FMT_PNG,
                                  SPNG_ENCODE_FINALIZE);
    std::size_t length = 0;
    void* buffer = error == 0 ? spng_get_png_buffer(context.get(), &length, &error) : nullptr;
    if (!buffer) {
        why = std::string("PNG encoding failed: ") + spng_strerror(error);
        return false;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    png.assign(bytes, bytes + length);
    std::free(buffer);
    return true;
}

}  // namespace Cli
