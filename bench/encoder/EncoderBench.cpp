// Quality and speed of our DXT1/DXT3 encoder against libsquish (cluster fit and range fit, both with
// a uniform colour metric, since the score is plain RGB PSNR) and stb_dxt's high-quality mode, on the
// bench corpus. Each timed run of one encoder is followed by one of every other, on the same image and
// thread count, so the ratios hold even when the machine is busy; the best run of each is kept.
//
// usage: quillpack_encoder_bench CORPUS_DIR [--reps N] [--budget S] [--threads N] [--only SUBSTRING]
//                                [--dxt1-only] [--encoders a,b,...] [--tsv FILE]
//   --reps N       timed runs per encoder, image and thread count (best kept; default 3)
//   --budget S     an encoder slower than S seconds per image gets no further runs (default 1.5)
//   --threads N    the "all threads" column (default: one per core)
//   --only S       only images whose path contains S
//   --encoders     any of ours, ours-fast, ours-best, squish-cluster, squish-range, stb-hq (default: all
//                  but our library's other effort levels, ours-fast and ours-best)
//   --tsv FILE     also write one line per format, encoder and image:
//                  format encoder image megapixels psnr mp/s-1t mp/s-Nt alpha-faults alpha-max-error
//
//        quillpack_encoder_bench --score-dds dxt1|dxt3 IMAGE.png FILE.dds
//   Scores another tool's output: prints "psnr alpha-faults alpha-max-error". DXT1 is scored against
//   the image with alpha forced to 255, as the encoders here are fed.
//
// DXT1 images are encoded with alpha forced to 255. DXT3 runs only on images with alpha; RGB PSNR is
// over every pixel, and an alpha fault is a pixel whose alpha is not the nearest of the 16 steps.
#include <omp.h>
#include <spng.h>
#include <squish.h>
#include <stb/stb_dxt.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
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

void forceOpaque(Image& img) {
    for (std::size_t i = 3; i < img.rgba.size(); i += 4) {
        img.rgba[i] = 255;
    }
}

std::size_t blockBytes(const Image& img, bool dxt3) {
    return std::size_t((img.width + 3) / 4) * ((img.height + 3) / 4) * (dxt3 ? 16 : 8);
}

struct Score {
    double psnr = 0;
    std::size_t alphaFaults = 0;
    int alphaMax = 0;
};

Score score(const Image& img, const std::uint8_t* blocks, bool dxt3) {
    std::vector<std::uint8_t> dec(img.rgba.size());
    squish::DecompressImage(dec.data(), int(img.width), int(img.height), blocks,
                            dxt3 ? squish::kDxt3 : squish::kDxt1);
    double sum = 0;
    Score s;
    for (std::size_t i = 0; i < dec.size(); i += 4) {
        for (int c = 0; c < 3; ++c) {
            const double d = double(dec[i + c]) - img.rgba[i + c];
            sum += d * d;
        }
        const int err = std::abs(int(dec[i + 3]) - 17 * ((img.rgba[i + 3] + 8) / 17));
        s.alphaFaults += err != 0;
        s.alphaMax = std::max(s.alphaMax, err);
    }
    const double mse = sum / (3.0 * img.width * img.height);
    s.psnr = mse > 0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : 99.0;
    return s;
}

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Bands of block rows on separate threads, for the encoders that have no threads of their own.
void inBands(const Image& img, unsigned threads, const std::function<void(std::uint32_t, std::uint32_t)>& rows) {
    const std::uint32_t blockRows = (img.height + 3) / 4;
    if (threads <= 1) {
        rows(0, blockRows);
        return;
    }
    const std::uint32_t per = (blockRows + threads - 1) / threads;
    std::vector<std::thread> pool;
    for (std::uint32_t r0 = 0; r0 < blockRows; r0 += per) {
        pool.emplace_back(rows, r0, std::min(blockRows, r0 + per));
    }
    for (auto& t : pool) {
        t.join();
    }
}

void squishImage(const Image& img, bool dxt3, std::uint8_t* out, unsigned threads, int fit) {
    float uniform[3] = {1.0f, 1.0f, 1.0f};
    omp_set_num_threads(int(threads));
    squish::CompressImage(img.rgba.data(), int(img.width), int(img.height), out,
                          (dxt3 ? squish::kDxt3 : squish::kDxt1) | fit, uniform);
}

// stb_dxt only makes DXT1 and DXT5 blocks; DXT3's explicit alpha is rounded to the nearest step here,
// which is the whole of what a DXT3 alpha encoder can do.
void stbImage(const Image& img, bool dxt3, std::uint8_t* out, unsigned threads) {
    const std::uint32_t blocksWide = (img.width + 3) / 4;
    const std::size_t stride = dxt3 ? 16 : 8;
    inBands(img, threads, [&](std::uint32_t r0, std::uint32_t r1) {
        std::uint8_t block[64];
        for (std::uint32_t by = r0; by < r1; ++by) {
            for (std::uint32_t bx = 0; bx < blocksWide; ++bx) {
                for (std::uint32_t p = 0; p < 16; ++p) {
                    // Edge blocks repeat the last row and column, which leaves the fit unchanged.
                    const std::uint32_t x = std::min(img.width - 1, bx * 4 + p % 4);
                    const std::uint32_t y = std::min(img.height - 1, by * 4 + p / 4);
                    std::memcpy(block + p * 4, img.rgba.data() + (std::size_t(y) * img.width + x) * 4, 4);
                }
                std::uint8_t* dst = out + (std::size_t(by) * blocksWide + bx) * stride;
                if (dxt3) {
                    for (int p = 0; p < 16; p += 2) {
                        const int lo = (block[p * 4 + 3] + 8) / 17;
                        const int hi = (block[p * 4 + 7] + 8) / 17;
                        dst[p / 2] = std::uint8_t(lo | hi << 4);
                    }
                    dst += 8;
                }
                stb_compress_dxt_block(dst, block, 0, STB_DXT_HIGHQUAL);
            }
        }
    });
}

struct Encoder {
    std::string name;
    std::function<void(const Image&, bool, std::uint8_t*, unsigned)> run;
};

Encoder ours(const char* name, ImageService::Dxt::Effort effort) {
    return {name, [effort](const Image& img, bool dxt3, std::uint8_t* out, unsigned t) {
                if (dxt3) {
                    ImageService::Dxt::encodeDxt3(img.rgba.data(), img.width, img.height, out, t, effort);
                } else {
                    ImageService::Dxt::encodeDxt1(img.rgba.data(), img.width, img.height, out, t, effort);
                }
            }};
}

// "ours" is the tool's level; the library's other two are there to be chosen by name.
std::vector<Encoder> allEncoders() {
    using ImageService::Dxt::Effort;
    return {
        ours("ours", Effort::Default),
        ours("ours-fast", Effort::Fast),
        ours("ours-best", Effort::Best),
        {"squish-cluster",
         [](const Image& img, bool dxt3, std::uint8_t* out, unsigned t) {
             squishImage(img, dxt3, out, t, squish::kColourClusterFit);
         }},
        {"squish-range",
         [](const Image& img, bool dxt3, std::uint8_t* out, unsigned t) {
             squishImage(img, dxt3, out, t, squish::kColourRangeFit);
         }},
        {"stb-hq", stbImage},
    };
}

int scoreDds(const std::string& format, const std::string& pngPath, const std::string& ddsPath) {
    const bool dxt3 = format == "dxt3";
    Image img;
    if ((!dxt3 && format != "dxt1") || !loadPng(pngPath, img)) {
        std::fprintf(stderr, "cannot read %s\n", pngPath.c_str());
        return 1;
    }
    if (!dxt3) {
        forceOpaque(img);
    }
    std::ifstream f(ddsPath, std::ios::binary);
    std::vector<std::uint8_t> dds((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    auto u32 = [&](std::size_t at) {
        return std::uint32_t(dds[at]) | std::uint32_t(dds[at + 1]) << 8 | std::uint32_t(dds[at + 2]) << 16 |
               std::uint32_t(dds[at + 3]) << 24;
    };
    const std::size_t header = 128;
    const char* fourCc = dxt3 ? "DXT3" : "DXT1";
    if (dds.size() < header + blockBytes(img, dxt3) || std::memcmp(dds.data(), "DDS ", 4) != 0 ||
        std::memcmp(dds.data() + 84, fourCc, 4) != 0 || u32(12) != img.height || u32(16) != img.width) {
        std::fprintf(stderr, "%s: not a %ux%u %s DDS file\n", ddsPath.c_str(), img.width, img.height, fourCc);
        return 1;
    }
    const Score s = score(img, dds.data() + header, dxt3);
    std::printf("%.4f %zu %d\n", s.psnr, s.alphaFaults, s.alphaMax);
    return 0;
}

struct Result {
    double best1 = 1e30, bestN = 1e30;  // seconds
    Score score;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--score-dds") {
        return scoreDds(argv[2], argv[3], argv[4]);
    }
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: %s CORPUS_DIR [--reps N] [--budget S] [--threads N] [--only S] [--dxt1-only] "
                     "[--encoders a,b,...] [--tsv FILE]\n"
                     "       %s --score-dds dxt1|dxt3 IMAGE.png FILE.dds\n",
                     argv[0], argv[0]);
        return 2;
    }
    int reps = 3;
    double budget = 1.5;
    unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    std::string only;
    std::string tsvPath;
    bool dxt1Only = false;
    std::vector<Encoder> encoders;
    for (const Encoder& e : allEncoders()) {
        if (e.name != "ours-fast" && e.name != "ours-best") {
            encoders.push_back(e);
        }
    }
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--reps" && i + 1 < argc) {
            reps = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--budget" && i + 1 < argc) {
            budget = std::atof(argv[++i]);
        } else if (a == "--threads" && i + 1 < argc) {
            threads = unsigned(std::max(1, std::atoi(argv[++i])));
        } else if (a == "--dxt1-only") {
            dxt1Only = true;
        } else if (a == "--only" && i + 1 < argc) {
            only = argv[++i];
        } else if (a == "--tsv" && i + 1 < argc) {
            tsvPath = argv[++i];
        } else if (a == "--encoders" && i + 1 < argc) {
            std::vector<Encoder> chosen;
            std::stringstream list(argv[++i]);
            for (std::string name; std::getline(list, name, ',');) {
                const auto all = allEncoders();
                auto it = std::find_if(all.begin(), all.end(), [&](const Encoder& e) { return e.name == name; });
                if (it == all.end()) {
                    std::fprintf(stderr, "unknown encoder %s\n", name.c_str());
                    return 2;
                }
                chosen.push_back(*it);
            }
            encoders = chosen;
        } else {
            std::fprintf(stderr, "unknown option %s\n", a.c_str());
            return 2;
        }
    }
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(argv[1])) {
        if (e.path().extension() == ".png" && e.path().string().find(only) != std::string::npos) {
            files.push_back(e.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    std::FILE* tsv = tsvPath.empty() ? nullptr : std::fopen(tsvPath.c_str(), "w");
    const std::size_t n = encoders.size();

    for (int pass = 0; pass < (dxt1Only ? 1 : 2); ++pass) {
        const bool dxt3 = pass == 1;
        const char* format = dxt3 ? "dxt3" : "dxt1";
        std::printf("\n%s: RGB PSNR dB, then MP/s on 1 and %u threads\n",
                    dxt3 ? "DXT3 (alpha images)" : "DXT1 (alpha forced to 255)", threads);
        std::printf("%-24s %6s", "image", "MP");
        for (const Encoder& e : encoders) {
            std::printf(" | %-21.21s", e.name.c_str());
        }
        std::printf("%s\n", dxt3 ? " | alpha faults" : "");
        std::vector<double> psnrSum(n), seconds1(n), secondsN(n);
        double mpSum = 0;
        int images = 0;
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
                forceOpaque(img);
            }
            const double mp = img.width * double(img.height) / 1e6;
            std::vector<std::vector<std::uint8_t>> out(n, std::vector<std::uint8_t>(blockBytes(img, dxt3)));
            std::vector<Result> res(n);
            std::vector<double> spent(n);
            for (int r = 0; r < reps; ++r) {
                for (unsigned t : {1u, threads}) {
                    for (std::size_t e = 0; e < n; ++e) {
                        if (r > 0 && spent[e] > budget) {
                            continue;
                        }
                        const double t0 = now();
                        encoders[e].run(img, dxt3, out[e].data(), t);
                        const double dt = now() - t0;
                        spent[e] += dt;
                        double& best = t == 1 ? res[e].best1 : res[e].bestN;
                        best = std::min(best, dt);
                    }
                }
            }
            std::printf("%-24s %6.2f", img.name.c_str(), mp);
            std::size_t faults = 0;
            for (std::size_t e = 0; e < n; ++e) {
                res[e].score = score(img, out[e].data(), dxt3);
                faults += res[e].score.alphaFaults;
                psnrSum[e] += res[e].score.psnr;
                seconds1[e] += res[e].best1;
                secondsN[e] += res[e].bestN;
                std::printf(" | %6.2f %6.1f %7.1f", res[e].score.psnr, mp / res[e].best1, mp / res[e].bestN);
                if (tsv) {
                    std::fprintf(tsv, "%s\t%s\t%s\t%.4f\t%.4f\t%.3f\t%.3f\t%zu\t%d\n", format,
                                 encoders[e].name.c_str(), img.name.c_str(), mp, res[e].score.psnr,
                                 mp / res[e].best1, mp / res[e].bestN, res[e].score.alphaFaults,
                                 res[e].score.alphaMax);
                }
            }
            if (dxt3) {
                std::printf(" | %zu", faults);
            }
            std::printf("\n");
            std::fflush(stdout);
            mpSum += mp;
            ++images;
        }
        // Mean PSNR over images; speed as all pixels over the time that encoding every image once takes.
        std::printf("%-24s %6.2f", "MEAN / total MP/s", mpSum);
        for (std::size_t e = 0; e < n; ++e) {
            std::printf(" | %6.3f %6.1f %7.1f", psnrSum[e] / images, mpSum / seconds1[e], mpSum / secondsN[e]);
        }
        std::printf("\n");
    }
    if (tsv) {
        std::fclose(tsv);
    }
    return 0;
}
