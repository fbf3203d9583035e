#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "ImageService/D3DX/CompressAhead.h"
#include "ImageService/D3DX/D3DX.h"
#include "ImageService/Decode/Decoders.h"
#include "ImageService/Direct3D/Device.h"
#include "ImageService/Direct3D/TestSeams.h"
#include "Platform/FailureReason.h"
#include "Platform/Files.h"
#include "Platform/Win32.h"

namespace ImageService {
namespace {

using Decode::Destination;
using Decode::ImageHeader;
using Decode::Source;

// Files are streamed, so their size costs no memory, but none larger than the largest image the
// service holds can take is read: 16384^2 pixels as a PFM of three 32-bit floats are 3 GiB, and the
// margin covers headers and the framing of stored (uncompressed) PNG data. Larger files are refused
// before they are read.
constexpr std::uint64_t kMaxFileSize = (std::uint64_t{3} << 30) + (std::uint64_t{64} << 20);

constexpr DWORD kResourceTexture = 3;  // the platform's D3DRTYPE_TEXTURE: every file here is a 2D image

// The decoders read the file piece by piece through this, so an input never costs its own size in
// memory. A file that shrinks since it was opened reads short, and is judged by what is there.
class FileSource : public Source {
public:
    explicit FileSource(Platform::InputFile& in) : Source(in.size()), in(in) {}
    bool failed() const { return readFailed; }

protected:
    std::size_t fetch(std::uint64_t offset, void* into, std::size_t count) override {
        std::size_t done = 0;
        while (done < count && !readFailed) {
            std::int64_t got =
                in.readAt(offset + done, static_cast<std::uint8_t*>(into) + done, count - done);
            if (got < 0) {
                FailureReason::note("%s", in.reason().c_str());
                readFailed = true;
            } else if (got == 0) {
                break;
            } else {
                done += static_cast<std::size_t>(got);
            }
        }
        return done;
    }

private:
    Platform::InputFile& in;
    bool readFailed = false;
};

// Only regular files: a folder, a pipe or a device has no length to check headers against, and
// opening one must not wait for a writer.
HRESULT openFile(LPCWSTR path, Platform::InputFile* in) {
    std::string name = Win32::narrowPath(path);
    if (name.empty())
        return E_FAIL;
    if (!in->open(name)) {
        FailureReason::note("%s", in->reason().c_str());
        return E_FAIL;
    }
    if (in->size() > kMaxFileSize)
        return D3DXERR_INVALIDDATA;
    return D3D_OK;
}

using ProbeFunction = HRESULT (*)(Source&, ImageHeader*);
using DecodeFunction = HRESULT (*)(Source&, const ImageHeader&, Destination);

struct Codec {
    const char* name;       // as the user knows the format
    const char* signature;  // leading bytes; nullptr for a format without one
    std::size_t signatureLength;
    ProbeFunction probe;
    DecodeFunction decode;
};

// Formats with a signature are recognised by it; the others are only tried, in table order, on what
// no signature claims, and their probes are strict about every header field (TGA).
constexpr Codec kCodecs[] = {
    {"PNG", "\x89PNG\r\n\x1a\n", 8, Decode::probePng, Decode::decodePng},
    {"JPEG", "\xFF\xD8\xFF", 3, Decode::probeJpeg, Decode::decodeJpeg},
    {"BMP", "BM", 2, Decode::probeBmp, Decode::decodeBmp},
    {"TGA", nullptr, 0, Decode::probeTga, Decode::decodeTga},
    {"DDS", "DDS ", 4, Decode::probeDds, Decode::decodeDds},
    {"PNM", "P1", 2, Decode::probePnm, Decode::decodePnm},  // P1 to P7: PBM, PGM, PPM plain and binary, PAM
    {"PNM", "P2", 2, Decode::probePnm, Decode::decodePnm},
    {"PNM", "P3", 2, Decode::probePnm, Decode::decodePnm},
    {"PNM", "P4", 2, Decode::probePnm, Decode::decodePnm},
    {"PNM", "P5", 2, Decode::probePnm, Decode::decodePnm},
    {"PNM", "P6", 2, Decode::probePnm, Decode::decodePnm},
    {"PNM", "P7", 2, Decode::probePnm, Decode::decodePnm},
    {"PFM", "PF", 2, Decode::probePfm, Decode::decodePfm},
    {"PFM", "Pf", 2, Decode::probePfm, Decode::decodePfm},
    {"HDR", "#?", 2, Decode::probeHdr, Decode::decodeHdr},
};

// Signatures of formats this tool knowingly does not read: refused without trying the others.
constexpr const char* kUnsupportedSignatures[] = {"GIF8", "8BPS"};

bool startsWith(const std::uint8_t* lead, std::size_t size, const char* magic, std::size_t length) {
    return size >= length && std::memcmp(lead, magic, length) == 0;
}

// "not a PNG, JPEG, BMP, TGA, DDS, PNM, PFM or HDR image", from the table.
HRESULT refuseAsUnsupported() {
    std::vector<std::string> names;
    for (const Codec& codec : kCodecs) {
        if (names.empty() || names.back() != codec.name)
            names.push_back(codec.name);
    }
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i)
        list += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    return Decode::refuse("not a %s image", list.c_str());
}

HRESULT probeFile(Source& file, const Codec** codec, ImageHeader* header) {
    std::uint8_t lead[8];  // the longest signature
    const std::size_t size = file.readAt(0, lead, sizeof lead);
    for (const char* signature : kUnsupportedSignatures) {
        if (startsWith(lead, size, signature, std::strlen(signature)))
            return refuseAsUnsupported();
    }
    for (const Codec& candidate : kCodecs) {
        if (candidate.signature && startsWith(lead, size, candidate.signature, candidate.signatureLength)) {
            *codec = &candidate;
            return candidate.probe(file, header);
        }
    }
    for (const Codec& candidate : kCodecs) {
        if (!candidate.signature && SUCCEEDED(candidate.probe(file, header))) {
            *codec = &candidate;
            return D3D_OK;
        }
    }
    return refuseAsUnsupported();  // a truncated signature-less file has noted its own cause first
}

}  // namespace

HRESULT D3DXGetImageInfoFromFileW(LPCWSTR path, D3DXIMAGE_INFO* info) {
    FailureReason::clear();
    if (HRESULT fault = TestSeams::takeFault(Operation::D3DXGetImageInfoFromFile); FAILED(fault))
        return fault;
    if (!path || !info)
        return D3DERR_INVALIDCALL;
    Platform::InputFile in;
    if (HRESULT hr = openFile(path, &in); FAILED(hr))
        return hr;
    FileSource file(in);
    const Codec* codec = nullptr;
    ImageHeader header;
    if (HRESULT hr = probeFile(file, &codec, &header); FAILED(hr) || file.failed())
        return file.failed() ? E_FAIL : hr;
    // The true size, even one the service cannot hold: the caller's own checks name it.
    info->Width = header.width;
    info->Height = header.height;
    info->Depth = 1;
    info->MipLevels = header.mipLevels;
    info->Format = header.fileFormat;
    info->ResourceType = kResourceTexture;
    info->ImageFileFormat = header.container;
    return D3D_OK;
}

bool isImageFile(LPCWSTR path) {
    Platform::InputFile in;
    if (!path || FAILED(openFile(path, &in)))
        return false;
    FileSource file(in);
    std::uint8_t lead[8];
    const std::size_t size = file.readAt(0, lead, sizeof lead);
    for (const char* signature : kUnsupportedSignatures) {
        if (startsWith(lead, size, signature, std::strlen(signature)))
            return true;
    }
    ImageHeader header;
    for (const Codec& codec : kCodecs) {
        if (codec.signature ? startsWith(lead, size, codec.signature, codec.signatureLength)
                            : SUCCEEDED(codec.probe(file, &header)))
            return true;
    }
    return false;
}

bool imageStoresAlpha(const D3DXIMAGE_INFO& info) {
    if (info.ImageFileFormat == D3DXIFF_HDR || info.ImageFileFormat == D3DXIFF_PFM)
        return false;
    return storesAlpha(info.Format);
}

HRESULT D3DXCreateTextureFromFileW(IDirect3DDevice9* device, LPCWSTR path, IDirect3DTexture9** texture) {
    FailureReason::clear();
    if (texture)
        *texture = nullptr;
    if (HRESULT fault = TestSeams::takeFault(Operation::D3DXCreateTextureFromFile); FAILED(fault))
        return fault;
    if (!device || !path || !texture)
        return D3DERR_INVALIDCALL;
    Platform::InputFile in;
    if (HRESULT hr = openFile(path, &in); FAILED(hr))
        return hr;
    FileSource file(in);
    const Codec* codec = nullptr;
    ImageHeader header;
    if (HRESULT hr = probeFile(file, &codec, &header); FAILED(hr) || file.failed())
        return file.failed() ? E_FAIL : hr;
    if (!Decode::sidesAllowed(header.width, header.height)) {
        return Decode::refuse("%s image too large: %u x %u, at most %u on a side", codec->name, header.width,
                              header.height, kMaxTextureSide);
    }

    IDirect3DTexture9* made = nullptr;
    HRESULT hr = IDirect3DTexture9::create(header.width, header.height, 1, 0, header.textureFormat,
                                           D3DPOOL_MANAGED, &made);
    if (FAILED(hr))
        return hr;
    // Declared before the decode and destroyed before the texture: its helpers read the pixels.
    std::optional<CompressAhead> ahead;
    const D3DFORMAT expected = device->takeExpectedCompression(header.width, header.height);
    if (expected != D3DFMT_UNKNOWN) {
        ahead.emplace(header.textureFormat, made->levelBytes(0), expected, header.width, header.height);
        if (!ahead->start())
            ahead.reset();
    }
    hr = codec->decode(file, header,
                       Destination{made->levelBytes(0), made->levelSize(0), ahead ? &*ahead : nullptr});
    if (FAILED(hr) || file.failed()) {
        hr = file.failed() ? E_FAIL : hr;
        ahead.reset();
        made->Release();
        return hr;
    }
    if (ahead)
        made->keepBlocksAhead(0, expected, ahead->finish());
    *texture = made;
    return D3D_OK;
}

}  // namespace ImageService
