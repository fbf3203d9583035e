// Quality and speed of our DXT1/DXT3 encoder against libsquish's cluster fit on the bench corpus.
// Every timing is taken in the same run as its libsquish baseline, the two alternating, so the
// ratio holds even on a busy machine.
//
// usage: quillpack_encoder_bench CORPUS_DIR [--reps N] [--threads N] [--no-squish] [--cache FILE]
//                                [--only SUBSTRING] [--dxt1-only]
//   --reps N     timed runs per encoder and thread count (best kept); libsquish gets fewer on big images
//   --threads N  the "all threads" column (default: one per core)
//   --no-squish  skip libsquish's timing (its PSNR comes from --cache when that file exists)
//   --only S     only images whose path contains S
#include <spng.h>
#include <squish.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ImageService/Dxt/DxtEncoder.h"

namespace {

struct Image {
    std::string name;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgba;
    bool hasAlpha = false;
};

bool loadPng(const std::string& path, Image& out) {
    std::ifstream f(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, bytes.data(), bytes.size());
    spng_ihdr ihdr;
    size_t size = 0;
    bool ok = spng_get_ihdr(ctx, &ihdr) == 0 && spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0;
    if (ok) {
        out.width = ihdr.width;
        out.height = ihdr.height;
        out.rgba.resize(size);
        ok = spng_decode_image(ctx, out.rgba.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) == 0;
    }
    spng_ctx_free(ctx);
    for (std::size_t i = 3; ok && i < out.rgba.size(); i += 4) {
        out.hasAlpha |= out.rgba[i] != 255;
    }
    return ok;
}

double rgbPsnr(const Image& img, const std::vector<std::uint8_t>& blocks, int flags, double* alphaMaxErr) {
    std::vector<std::uint8_t> dec(img.rgba.size());
    squish::DecompressImage(dec.data(), int(img.width), int(img.height), blocks.data(), flags);
    double sum = 0;
    int amax = 0;
    for (std::size_t i = 0; i < dec.size(); i += 4) {
        for (int c = 0; c < 3; ++c) {
            const double d = double(dec[i + c]) - img.rgba[i + c];
            sum += d * d;
        }
        amax = std::max(amax, std::abs(int(dec[i + 3]) - 17 * ((img.rgba[i + 3] * 15 + 127) / 255)));
    }
    if (alphaMaxErr) {
        *alphaMaxErr = amax;
    }
    const double mse = sum / (3.0 * img.width * img.height);
    return mse > 0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : 99.0;
}

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// libsquish has no threads of its own: bands of block rows go to separate threads, as our driver does.
void squishImage(const Image& img, int flags, std::uint8_t* out, unsigned threads) {
    const int blockBytes = (flags & squish::kDxt1) ? 8 : 16;
    const std::uint32_t rows = (img.height + 3) / 4;
    const std::uint32_t per = (rows + threads - 1) / threads;
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) {
        const std::uint32_t r0 = t * per;
        const std::uint32_t r1 = std::min(rows, r0 + per);
        if (r0 >= r1) {
            break;
        }
        auto job = [&, r0, r1] {
            const std::uint32_t h = std::min(img.height, r1 * 4) - r0 * 4;
            squish::CompressImage(img.rgba.data() + std::size_t(r0) * 4 * img.width * 4, int(img.width),
                                  int(h), out + std::size_t(r0) * ((img.width + 3) / 4) * blockBytes, flags);
        };
        if (threads == 1) {
            job();
        } else {
            pool.emplace_back(job);
        }
    }
    for (auto& t : pool) {
        t.join();
    }
}

struct Row {
    std::string name;
    double mp;
    double psnrSquish, psnrOurs;
    double squish1 = 0, ours1 = 0, squishN = 0, oursN = 0;  // MP/s
    double alphaErr = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: %s CORPUS_DIR [--reps N] [--threads N] [--no-squish] [--cache FILE] [--only S] "
                     "[--dxt1-only]\n",
                     argv[0]);
        return 2;
    }
    int reps = 3;
    unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    bool squishTiming = true;
    std::string cache;
    std::string only;
    bool dxt1Only = false;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--reps" && i + 1 < argc) {
            reps = std::atoi(argv[++i]);
        } else if (a == "--threads" && i + 1 < argc) {
            threads = unsigned(std::atoi(argv[++i]));
        } else if (a == "--no-squish") {
            squishTiming = false;
        } else if (a == "--dxt1-only") {
            dxt1Only = true;
        } else if (a == "--only" && i + 1 < argc) {
            only = argv[++i];
        } else if (a == "--cache" && i + 1 < argc) {
            cache = argv[++i];
        }
    }
    std::map<std::string, double> cached;
    if (!cache.empty()) {
        std::ifstream in(cache);
        std::string key;
        double v;
        while (in >> key >> v) {
            cached[key] = v;
        }
    }
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(argv[1])) {
        if (e.path().extension() == ".png" && e.path().string().find(only) != std::string::npos) {
            files.push_back(e.path().string());
        }
    }
    std::sort(files.begin(), files.end());

    for (int pass = 0; pass < (dxt1Only ? 1 : 2); ++pass) {
        const bool dxt3 = pass == 1;
        const int sflags = (dxt3 ? squish::kDxt3 : squish::kDxt1) | squish::kColourClusterFit;
        std::printf("\n%s%s\n", dxt3 ? "DXT3 (alpha images)" : "DXT1 (alpha forced to 255)",
                    squishTiming ? "" : " [libsquish PSNR only]");
        std::printf("%-26s %6s | %8s %8s %6s | %8s %8s %6s | %8s %8s %6s%s\n", "image", "MP", "sq dB",
                    "ours dB", "delta", "sq 1t", "ours 1t", "x", "sq Nt", "ours Nt", "x",
                    dxt3 ? "  alphaErr" : "");
        std::vector<Row> table;
        for (const std::string& path : files) {
            Image img;
            if (!loadPng(path, img)) {
                std::fprintf(stderr, "cannot read %s\n", path.c_str());
                return 1;
            }
            img.name = std::filesystem::path(path).stem().string();
            if (dxt3 && !img.hasAlpha) {
                continue;
            }
            if (!dxt3) {
                for (std::size_t i = 3; i < img.rgba.size(); i += 4) {
                    img.rgba[i] = 255;
                }
            }
            const std::size_t bytes =
                std::size_t((img.width + 3) / 4) * ((img.height + 3) / 4) * (dxt3 ? 16 : 8);
            std::vector<std::uint8_t> sq(bytes), ours(bytes);
            Row row;
            row.name = img.name;
            row.mp = img.width * double(img.height) / 1e6;
            auto runOurs = [&](unsigned t) {
                if (dxt3) {
                    ImageService::Dxt::encodeDxt3(img.rgba.data(), img.width, img.height, ours.data(), t);
                } else {
                    ImageService::Dxt::encodeDxt1(img.rgba.data(), img.width, img.height, ours.data(), t);
                }
            };
            const std::string key = img.name + (dxt3 ? ":dxt3" : ":dxt1");
            double best[4] = {1e30, 1e30, 1e30, 1e30};
            // libsquish is ~30x slower: one timed run each on big images keeps the bench short.
            const int sqReps = row.mp >= 4 ? 1 : std::max(1, reps / 2);
            for (int r = 0; r < reps; ++r) {
                for (int t = 0; t < 2; ++t) {
                    const unsigned nt = t == 0 ? 1 : threads;
                    if (squishTiming && r < sqReps) {
                        const double s0 = now();
                        squishImage(img, sflags, sq.data(), nt);
                        best[t * 2] = std::min(best[t * 2], now() - s0);
                    }
                    const double o0 = now();
                    runOurs(nt);
                    best[t * 2 + 1] = std::min(best[t * 2 + 1], now() - o0);
                }
            }
            if (squishTiming) {
                row.psnrSquish = rgbPsnr(img, sq, sflags, nullptr);
                cached[key] = row.psnrSquish;
            } else if (cached.count(key)) {
                row.psnrSquish = cached[key];
            } else {
                squishImage(img, sflags, sq.data(), threads);
                row.psnrSquish = rgbPsnr(img, sq, sflags, nullptr);
                cached[key] = row.psnrSquish;
            }
            row.psnrOurs = rgbPsnr(img, ours, sflags, &row.alphaErr);
            row.squish1 = squishTiming ? row.mp / best[0] : 0;
            row.ours1 = row.mp / best[1];
            row.squishN = squishTiming ? row.mp / best[2] : 0;
            row.oursN = row.mp / best[3];
            std::printf("%-26s %6.2f | %8.2f %8.2f %+6.2f | %8.2f %8.1f %6.1f | %8.2f %8.1f %6.1f",
                        row.name.c_str(), row.mp, row.psnrSquish, row.psnrOurs, row.psnrOurs - row.psnrSquish,
                        row.squish1, row.ours1, squishTiming ? row.ours1 / row.squish1 : 0.0, row.squishN,
                        row.oursN, squishTiming ? row.oursN / row.squishN : 0.0);
            if (dxt3) {
                std::printf("  %8.0f", row.alphaErr);
            }
            std::printf("\n");
            std::fflush(stdout);
            table.push_back(row);
        }
        double ps = 0, po = 0, worst = 1e9, mp = 0, ts1 = 0, to1 = 0, tsN = 0, toN = 0;
        for (const Row& r : table) {
            ps += r.psnrSquish;
            po += r.psnrOurs;
            worst = std::min(worst, r.psnrOurs - r.psnrSquish);
            mp += r.mp;
            ts1 += r.squish1 > 0 ? r.mp / r.squish1 : 0;
            to1 += r.mp / r.ours1;
            tsN += r.squishN > 0 ? r.mp / r.squishN : 0;
            toN += r.mp / r.oursN;
        }
        const double n = double(table.size());
        std::printf("%-26s %6.2f | %8.3f %8.3f %+6.2f | %8.2f %8.1f %6.1f | %8.2f %8.1f %6.1f\n",
                    "MEAN (MP/s: total)", mp, ps / n, po / n, po / n - ps / n, ts1 > 0 ? mp / ts1 : 0,
                    mp / to1, ts1 > 0 ? ts1 / to1 : 0, tsN > 0 ? mp / tsN : 0, mp / toN,
                    tsN > 0 ? tsN / toN : 0);
        std::printf("worst per-image delta: %+.3f dB\n", worst);
    }
    if (!cache.empty()) {
        std::ofstream out(cache);
        for (const auto& [k, v] : cached) {
            out << k << ' ' << v << '\n';
        }
    }
    return 0;
}
