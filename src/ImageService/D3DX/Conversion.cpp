#include <cstring>

#include "ImageService/D3DX/D3DX.h"
#include "ImageService/D3DX/PixelFormats.h"
#include "ImageService/D3DX/Resample.h"
#include "ImageService/Direct3D/TestSeams.h"

namespace ImageService {
namespace {

// Rows [top, bottom) of a level. Rectangles are only ever whole-width bands of rows (the alpha merge
// works band by band), and a band of a block-compressed level starts on a row of blocks.
struct Band {
    UINT top = 0;
    UINT bottom = 0;
    UINT rows() const { return bottom - top; }
};

bool bandOf(const RECT* rect, IDirect3DTexture9& texture, UINT level, Band* band) {
    const UINT width = texture.width(level), height = texture.height(level);
    if (!rect) {
        *band = Band{0, height};
        return true;
    }
    if (rect->left != 0 || rect->right < 0 || static_cast<UINT>(rect->right) != width || rect->top < 0 ||
        rect->bottom <= rect->top || static_cast<UINT>(rect->bottom) > height) {
        return false;
    }
    *band = Band{static_cast<UINT>(rect->top), static_cast<UINT>(rect->bottom)};
    const bool blocks = formatInfo(texture.format())->blockCompressed;
    return !blocks || (band->top % 4 == 0 && (band->bottom % 4 == 0 || band->bottom == height));
}

// The first byte of a band: block levels are stored as rows of 4x4 blocks.
std::uint8_t* bandBytes(IDirect3DTexture9& texture, UINT level, const Band& band) {
    const D3DFORMAT format = texture.format();
    const UINT rowUnits = formatInfo(format)->blockCompressed ? band.top / 4 : band.top;
    return texture.levelBytes(level) + *rowPitch(format, texture.width(level)) * rowUnits;
}

std::size_t bandSize(IDirect3DTexture9& texture, UINT level, const Band& band) {
    const std::uint8_t* end = band.bottom == texture.height(level)
                                  ? texture.levelBytes(level) + texture.levelSize(level)
                                  : bandBytes(texture, level, Band{band.bottom, band.bottom});
    return static_cast<std::size_t>(end - bandBytes(texture, level, band));
}

bool convertBand(IDirect3DTexture9& from, UINT fromLevel, const Band& fromBand, IDirect3DTexture9& to,
                 UINT toLevel, const Band& toBand, DWORD colorKey) {
    if (from.format() == to.format() && colorKey == 0) {
        // A straight copy keeps DXT blocks exactly as they are instead of compressing them again.
        std::memmove(bandBytes(to, toLevel, toBand), bandBytes(from, fromLevel, fromBand),
                     bandSize(to, toLevel, toBand));
        return true;
    }
    return convertLevel(from.format(), bandBytes(from, fromLevel, fromBand), to.format(),
                        bandBytes(to, toLevel, toBand), from.width(fromLevel), fromBand.rows(), colorKey);
}

}  // namespace

HRESULT D3DXLoadSurfaceFromSurface(IDirect3DSurface9* destination, const void* destinationPalette,
                                   const RECT* destinationRect, IDirect3DSurface9* source,
                                   const void* sourcePalette, const RECT* sourceRect, DWORD filter,
                                   DWORD colorKey) {
    if (HRESULT fault = TestSeams::takeFault(Operation::LoadSurfaceFromSurface); FAILED(fault))
        return fault;
    // Only palette-free formats are ever converted; the filter matters only when the size changes.
    if (!destination || !source || destinationPalette || sourcePalette)
        return D3DERR_INVALIDCALL;
    IDirect3DTexture9& to = *destination->texture();
    IDirect3DTexture9& from = *source->texture();
    const UINT toLevel = destination->level();
    const UINT fromLevel = source->level();
    if (!formatInfo(from.format()) || !formatInfo(to.format()))
        return D3DERR_INVALIDCALL;
    Band toBand, fromBand;
    if (!bandOf(destinationRect, to, toLevel, &toBand) || !bandOf(sourceRect, from, fromLevel, &fromBand))
        return D3DERR_INVALIDCALL;
    const bool wholeLevels = toBand.rows() == to.height(toLevel) && fromBand.rows() == from.height(fromLevel);
    if (to.width(toLevel) != from.width(fromLevel) || toBand.rows() != fromBand.rows()) {
        // Only whole levels change size, and only through a filter that resamples.
        if ((filter != D3DX_FILTER_TRIANGLE && filter != D3DX_DEFAULT) || !wholeLevels || colorKey != 0)
            return D3DERR_INVALIDCALL;
        return resampleLevel(from, fromLevel, to, toLevel);
    }
    if (to.isLocked(toLevel) || from.isLocked(fromLevel))
        return D3DERR_INVALIDCALL;
    if (&to == &from && toLevel == fromLevel) {
        if (wholeLevels && colorKey == 0)
            return D3D_OK;
        if (!wholeLevels)
            return D3DERR_INVALIDCALL;  // overlapping bands of one level
    }

    // A block level that still has the pixels it was made from is read from those, so colour is
    // compressed once however often the level is converted back and forth (the alpha merge does).
    IDirect3DTexture9* origin = &from;
    UINT originLevel = fromLevel;
    if (to.format() != from.format() || colorKey != 0) {
        UINT exactLevel = 0;
        if (IDirect3DTexture9* exact = from.exactPixels(fromLevel, &exactLevel)) {
            origin = exact;
            originLevel = exactLevel;
        }
    }
    origin->AddRef();  // the write below may drop the last other reference to it
    HRESULT result = D3D_OK;

    // A band written into a block level whose exact pixels nobody else holds goes into those pixels
    // too, and the band is compressed from them: the level keeps exact pixels for every row, so a
    // merge done band by band compresses colour once, as a merge of whole images does.
    UINT pairedLevel = 0;
    IDirect3DTexture9* paired = wholeLevels || colorKey != 0 || formatInfo(origin->format())->blockCompressed
                                    ? nullptr
                                    : to.soleExactPixels(toLevel, &pairedLevel);
    if (paired && paired == origin)
        paired = nullptr;  // reading and writing the same pixels: nothing to pair
    if (paired) {
        paired->markWritten(pairedLevel);
        if (!convertBand(*origin, originLevel, fromBand, *paired, pairedLevel, toBand, 0) ||
            !convertBand(*paired, pairedLevel, toBand, to, toLevel, toBand, 0)) {
            result = E_OUTOFMEMORY;
        }
        to.exactPixelsRewritten(toLevel);
        if (FAILED(result))
            to.markWritten(toLevel);
        origin->Release();
        return result;
    }

    // Blocks compressed while the source decoded are what the conversion would give: take them.
    PixelBuffer ahead =
        wholeLevels && colorKey == 0 ? origin->takeBlocksAhead(originLevel, to.format()) : PixelBuffer{};
    if ((ahead.empty() || !to.adoptLevel(toLevel, std::move(ahead))) &&
        !convertBand(*origin, originLevel, fromBand, to, toLevel, toBand, colorKey)) {
        result = E_OUTOFMEMORY;
    }
    UINT keptLevel = 0;
    IDirect3DTexture9* kept = origin == &from ? from.exactPixels(fromLevel, &keptLevel) : nullptr;
    if (kept)
        kept->AddRef();
    to.markWritten(toLevel);
    if (SUCCEEDED(result) && colorKey == 0 && wholeLevels) {
        if (kept)
            to.keepExactPixels(toLevel, kept, keptLevel);  // a block copy carries the source's pixels along
        else if (formatInfo(to.format())->blockCompressed)
            to.keepExactPixels(toLevel, origin, originLevel);
    }
    if (kept)
        kept->Release();
    origin->Release();
    return result;
}

HRESULT copyLevelToTexture(IDirect3DTexture9* source, UINT level, D3DFORMAT format, UINT width, UINT height,
                           IDirect3DTexture9** copy) {
    if (!copy)
        return D3DERR_INVALIDCALL;
    *copy = nullptr;
    if (!source || level >= source->GetLevelCount())
        return D3DERR_INVALIDCALL;
    const bool resized =
        (width != 0 || height != 0) && (width != source->width(level) || height != source->height(level));
    IDirect3DTexture9* made = nullptr;
    HRESULT hr = IDirect3DTexture9::create(resized ? width : source->width(level),
                                           resized ? height : source->height(level), 1, 0, format,
                                           D3DPOOL_MANAGED, &made);
    if (FAILED(hr))
        return hr;
    IDirect3DSurface9* from = nullptr;
    IDirect3DSurface9* to = nullptr;
    if (SUCCEEDED(hr = source->GetSurfaceLevel(level, &from)) &&
        SUCCEEDED(hr = made->GetSurfaceLevel(0, &to)))
        hr = D3DXLoadSurfaceFromSurface(to, nullptr, nullptr, from, nullptr, nullptr,
                                        resized ? D3DX_FILTER_TRIANGLE : D3DX_FILTER_NONE, 0);
    if (from)
        from->Release();
    if (to)
        to->Release();
    if (FAILED(hr)) {
        made->Release();
        return hr;
    }
    *copy = made;
    return D3D_OK;
}

}  // namespace ImageService
