// Per-frame conversion cost of the front end next to its floor (a memcpy of
// the output size) and to the bare libyuv calls for the same work.
// Run: build/bin/conversion_bench   (720p and 1080p, formats 19 and 21)
#include <string.h>

#include <algorithm>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchHost.h"
#include <libyuv/convert.h>
#include <libyuv/convert_from.h>

#include "icodec/qoryuv.h"

namespace {

struct Frame {
    Frame(int w, int h, int format) : width(w), height(h) {
        size = qor::qoryuv::getOMXColorSizeAndDimensions(w, h, format, &stride, &sliceHeight);
        src.resize((size_t)w * h * 2);
        for (size_t i = 0; i < src.size(); ++i) src[i] = (uint8_t)(i * 7 + (i >> 11));
        int64_t extent = qor::qoryuv::getConvertedExtent(w, h, format, stride, sliceHeight);
        dst.resize((size_t)std::max<int64_t>(extent, size) + 128);
        i420.resize((size_t)w * h * 3 / 2);
    }
    int width, height, stride, sliceHeight, size;
    std::vector<uint8_t> src, dst, i420;
};

void BM_Memcpy(benchmark::State& state) {
    Frame f((int)state.range(0), (int)state.range(1), (int)state.range(2));
    for (auto _ : state) {
        memcpy(f.dst.data(), f.src.data(), (size_t)f.size);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * f.size);
}

void BM_BareLibyuv(benchmark::State& state) {
    const int format = (int)state.range(2);
    Frame f((int)state.range(0), (int)state.range(1), format);
    const int w = f.width, h = f.height, cw = (w + 1) / 2;
    for (auto _ : state) {
        uint8_t* out = format == 19 ? f.dst.data() : f.i420.data();
        uint8_t* u = out + w * h;
        uint8_t* v = u + cw * ((h + 1) / 2);
        libyuv::RGB565ToI420(f.src.data(), w * 2, out, w, u, cw, v, cw, w, h);
        if (format != 19) {
            libyuv::I420ToNV12(out, w, u, cw, v, cw, f.dst.data(), f.stride,
                               f.dst.data() + (size_t)f.stride * f.sliceHeight, f.stride, w, h);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * f.size);
}

void BM_FrontEnd(benchmark::State& state) {
    const int format = (int)state.range(2);
    Frame f((int)state.range(0), (int)state.range(1), format);
    qor::qoryuv converter;
    for (auto _ : state) {
        converter.ConvertFromRGB565(f.src.data(), f.dst.data(), format, f.width, f.height,
                                    f.stride, f.sliceHeight);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * f.size);
}

void sizes(benchmark::internal::Benchmark* b) {
    for (int format : {19, 21, 0x7FA30C04}) {
        b->Args({1280, 720, format});
        b->Args({1920, 1080, format});
    }
    b->ArgNames({"w", "h", "format"});
    b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_Memcpy)->Apply(sizes);
BENCHMARK(BM_BareLibyuv)->Apply(sizes);
BENCHMARK(BM_FrontEnd)->Apply(sizes);

}  // namespace

QOR_BENCHMARK_MAIN()
