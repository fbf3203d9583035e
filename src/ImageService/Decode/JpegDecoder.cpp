// JPEG through libjpeg-turbo's libjpeg API, decoded row by row straight to B,G,R,A in the texture.
// libjpeg reports damaged entropy data only as warnings and fills the damage with grey; here those
// warnings refuse the file, as does a file whose decoding would need more working memory than the
// budget leaves beside the decoded image (progressive and multi-scan files keep every coefficient).
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <memory>
// jpeglib.h needs size_t and FILE declared before it, and jerror.h needs its configuration.
#include <jpeglib.h>
// (kept apart so that sorting keeps the order)
#include <jerror.h>

#include "ImageService/Decode/Decoders.h"

namespace ImageService::Decode {
namespace {

// Real encoders write a few dozen scans; thousands of tiny ones would each cost a full pass.
constexpr int kMaxScans = 500;
constexpr std::size_t kMiB = std::size_t{1} << 20;

// libjpeg ends a failed call by calling error_exit, which must not return: it jumps back to the
// setjmp of the call in progress. Only plain data lives in the frames it skips.
struct Trap {
    jpeg_error_mgr manager;  // first: libjpeg hands back a pointer to it
    std::jmp_buf escape;
    std::size_t memoryLimit;
    bool inImageData;  // stray bytes between header segments only cost metadata; inside scans, pixels
};

bool isCorruptData(int code) {
    switch (code) {
        case JWRN_ARITH_BAD_CODE:
        case JWRN_BOGUS_PROGRESSION:
        case JWRN_EXTRANEOUS_DATA:
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_JPEG_EOF:
        case JWRN_MUST_RESYNC:
        case JWRN_NOT_SEQUENTIAL:
            return true;
        default:
            return false;  // metadata warnings (unknown JFIF revision, Adobe transform) keep the image
    }
}

[[noreturn]] void onError(j_common_ptr info) {
    Trap* trap = reinterpret_cast<Trap*>(info->err);
    if (info->err->msg_code == JERR_NO_BACKING_STORE) {
        refuse(
            "JPEG too large to decode: its coefficients need more than the %zu MiB of working memory "
            "allowed",
            trap->memoryLimit / kMiB);
    } else {
        char text[JMSG_LENGTH_MAX];
        info->err->format_message(info, text);
        switch (info->err->msg_code) {
            case JWRN_JPEG_EOF:
                refuse("truncated JPEG: the data ends before the image does");
                break;
            case JERR_BAD_PRECISION:
            case JERR_NOT_COMPILED:
            case JERR_NO_ARITH_TABLE:
                refuse("unsupported JPEG variant: %s", text);
                break;
            default:  // libjpeg's corrupt-data warnings say so themselves
                refuse(text[0] == 'C' ? "%s" : "damaged JPEG: %s", text);
        }
    }
    std::longjmp(trap->escape, 1);
}

void onMessage(j_common_ptr info, int level) {
    const int code = info->err->msg_code;
    if (level < 0 && isCorruptData(code) &&
        (code != JWRN_EXTRANEOUS_DATA || reinterpret_cast<Trap*>(info->err)->inImageData)) {
        onError(info);
    }
}

void onProgress(j_common_ptr info) {
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > kMaxScans) {
        refuse("unsupported JPEG variant: more than %d scans", kMaxScans);
        std::longjmp(reinterpret_cast<Trap*>(info->err)->escape, 1);
    }
}

// Feeds libjpeg from the source a buffer at a time. At the end of the data it does what libjpeg's
// own sources do: warns (which refuses the file here) and supplies an end-of-image marker.
constexpr std::size_t kInputBuffer = std::size_t{64} << 10;

struct Input {
    jpeg_source_mgr manager;  // first: libjpeg hands back a pointer to it
    Source* file;
    std::uint64_t at;
    JOCTET* buffer;  // kInputBuffer bytes
};

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

boolean fillInput(j_decompress_ptr info) {
    static const JOCTET kEnd[2] = {0xFF, JPEG_EOI};
    Input* input = reinterpret_cast<Input*>(info->src);
    const std::size_t got = input->file->readAt(input->at, input->buffer, kInputBuffer);
    input->at += got;
    if (got == 0) {
        WARNMS(info, JWRN_JPEG_EOF);
        input->manager.next_input_byte = kEnd;
        input->manager.bytes_in_buffer = sizeof kEnd;
    } else {
        input->manager.next_input_byte = input->buffer;
        input->manager.bytes_in_buffer = got;
    }
    return TRUE;
}

void skipInput(j_decompress_ptr info, long count) {
    jpeg_source_mgr* manager = info->src;
    if (count <= 0)
        return;
    while (count > static_cast<long>(manager->bytes_in_buffer)) {
        count -= static_cast<long>(manager->bytes_in_buffer);
        fillInput(info);
    }
    manager->next_input_byte += count;
    manager->bytes_in_buffer -= static_cast<std::size_t>(count);
}

class Decompressor {
public:
    Decompressor(Source& file, std::size_t memoryLimit) {
        decompress.err = jpeg_std_error(&trap.manager);
        trap.manager.error_exit = onError;
        trap.manager.emit_message = onMessage;
        trap.memoryLimit = memoryLimit;
        progress.progress_monitor = onProgress;
        if (setjmp(trap.escape))
            return;
        jpeg_create_decompress(&decompress);
        created = true;
        decompress.progress = &progress;
        // libjpeg refuses whole-image buffers beyond this instead of asking for them.
        decompress.mem->max_memory_to_use = static_cast<long>(memoryLimit);
        if (file.size() == 0)
            ERREXIT(&decompress, JERR_INPUT_EMPTY);
        input.manager.init_source = initSource;
        input.manager.fill_input_buffer = fillInput;
        input.manager.skip_input_data = skipInput;
        input.manager.resync_to_restart = jpeg_resync_to_restart;
        input.manager.term_source = termSource;
        input.file = &file;
        input.at = 0;
        input.buffer = buffer.get();
        decompress.src = &input.manager;
        ready = true;
    }
    ~Decompressor() {
        if (created)
            jpeg_destroy_decompress(&decompress);
    }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    bool readHeader() {
        if (!ready || setjmp(trap.escape))
            return false;
        jpeg_read_header(&decompress, TRUE);
        return true;
    }

    // Coefficients a progressive file keeps for the whole image, as libjpeg sizes them.
    std::size_t progressiveBytes() const {
        if (!decompress.progressive_mode)
            return 0;
        std::size_t bytes = 0;
        for (int c = 0; c < decompress.num_components; ++c) {
            const jpeg_component_info& component = decompress.comp_info[c];
            auto roundUp = [](std::size_t value, std::size_t step) {
                return (value + step - 1) / step * step;
            };
            bytes += roundUp(component.width_in_blocks, component.h_samp_factor) *
                     roundUp(component.height_in_blocks, component.v_samp_factor) * sizeof(JBLOCK);
        }
        return bytes;
    }

    bool cmyk() const {
        return decompress.jpeg_color_space == JCS_CMYK || decompress.jpeg_color_space == JCS_YCCK;
    }

    // After readHeader: every row into `out` (B,G,R,A, or C,M,Y,K for ink files), then the end of the
    // file, whose damage is refused too.
    bool readPixels(Destination out) {
        if (setjmp(trap.escape))
            return false;
        trap.inImageData = true;
        decompress.out_color_space = cmyk() ? JCS_CMYK : JCS_EXT_BGRA;
        jpeg_start_decompress(&decompress);
        const std::size_t pitch = std::size_t{decompress.output_width} * 4;
        if (decompress.output_components != 4 || pitch * decompress.output_height != out.size) {
            refuse("damaged JPEG: decodes to another size than its header gives");
            return false;
        }
        while (decompress.output_scanline < decompress.output_height) {
            JSAMPROW rows[16];
            JDIMENSION count = 0;
            for (; count < 16 && decompress.output_scanline + count < decompress.output_height; ++count)
                rows[count] = out.bytes + (decompress.output_scanline + count) * pitch;
            jpeg_read_scanlines(&decompress, rows, count);
        }
        jpeg_finish_decompress(&decompress);
        return true;
    }

    jpeg_decompress_struct decompress{};

private:
    Trap trap{};
    jpeg_progress_mgr progress{};
    Input input{};
    std::unique_ptr<JOCTET[]> buffer{new JOCTET[kInputBuffer]};
    bool created = false;
    bool ready = false;
};

// Adobe CMYK JPEGs store inverted inks, so each colour is ink x black / 255 without inverting.
void cmykToBgra(std::uint8_t* pixels, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, pixels += 4) {
        unsigned c = pixels[0], m = pixels[1], y = pixels[2], k = pixels[3];
        pixels[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
        pixels[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
        pixels[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
        pixels[3] = 255;
    }
}

}  // namespace

HRESULT probeJpeg(Source& file, ImageHeader* header) {
    Decompressor jpeg(file, kDecodeBudget);
    if (!jpeg.readHeader())
        return D3DXERR_INVALIDDATA;
    *header = ImageHeader{jpeg.decompress.image_width,
                          jpeg.decompress.image_height,
                          1,
                          jpeg.decompress.num_components == 1 ? D3DFMT_L8 : D3DFMT_X8R8G8B8,
                          D3DFMT_A8R8G8B8,
                          D3DXIFF_JPG};
    return D3D_OK;
}

HRESULT decodeJpeg(Source& file, const ImageHeader& header, Destination out) {
    // The decoded image and the input buffer are already in memory; the rest of the budget is libjpeg's.
    const std::size_t held = out.size + kInputBuffer;
    const std::size_t limit = held < kDecodeBudget - 16 * kMiB ? kDecodeBudget - held : 16 * kMiB;
    Decompressor jpeg(file, limit);
    if (!jpeg.readHeader())
        return D3DXERR_INVALIDDATA;
    if (jpeg.decompress.image_width != header.width || jpeg.decompress.image_height != header.height)
        return refuse("damaged JPEG: its header changed between reads");
    if (std::size_t coefficients = jpeg.progressiveBytes(); coefficients > limit) {
        return refuse("progressive JPEG too large to decode: its coefficients need %zu MiB, %zu MiB allowed",
                      (coefficients + kMiB - 1) / kMiB, limit / kMiB);
    }
    if (!jpeg.readPixels(out))
        return D3DXERR_INVALIDDATA;
    if (jpeg.cmyk())
        cmykToBgra(out.bytes, std::size_t{header.width} * header.height);
    return D3D_OK;
}

}  // namespace ImageService::Decode
