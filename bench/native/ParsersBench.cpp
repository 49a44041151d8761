// Throughput of the media parsers against plain memory copy bandwidth in the
// same run: H.264 and MPEG-4 depacketizers over the packets of 1080p streams
// (bytes of RTP payload per second) and the Motion JPEG scanner over a
// 1280x720 multipart body. Real encoder output is read from
// $HALVENCAP_STREAMS (scripts/make-test-streams.sh); without it synthetic
// streams of the same shape are used. Ends with each parser's share of the
// copy bandwidth.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "channels/IMediaParserClient.h"
#include "host/HostContract.h"
#include "host/IDriver.h"
#include "parsers/H264RTPMediaParser.h"
#include "parsers/JpegMediaParser.h"
#include "parsers/Mpeg4RTPMediaParser.h"
#include "streaming/RTPPacket.h"
#include "streaming/SDPResponseParser.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A host that pools its frames, as a recording server does, so the
// benchmark measures the parser and its copy into the frame.
class PoolFrame final : public zentavo::ipcapture::IHostFrame {
public:
    uint8_t* GetDataArea() override { return data.data(); }
    void SetDataSize(uint32_t s) override { size = s; }
    void SetCaptureTime(const SYSTEMTIME*) override {}
    void SetCode(uint32_t) override {}
    void SetHeight(uint32_t) override {}
    void SetWidth(uint32_t) override {}
    void SetResolutionClass(uint32_t) override {}
    Bytes data;
    uint32_t size = 0;
};

class PoolFactory final : public zentavo::ipcapture::IFrameFactory {
public:
    zentavo::ipcapture::IHostFrame* CreateFrame(uint32_t, uint32_t capacity, const char*) override {
        if (frame.data.size() < capacity) frame.data.resize(capacity);
        return &frame;
    }
    void ReleaseFrame(zentavo::ipcapture::IHostFrame*) override { ++frames; }
    PoolFrame frame;
    size_t frames = 0;
};

class BenchDriver final : public zentavo::IDriver {
public:
    void* DeletingDestructor(unsigned) override { return this; }
    std::string GetDeviceName() override { return "127.0.0.1:80"; }
    void Message(int, const char*, ...) override {}
    std::string GetDriverName() override { return "Halvencap"; }
    std::string GetHostDirectory() override { return ""; }
    zentavo::DEVICE_INFO* GetDeviceInfo() override { return &device; }
    std::pair<uint32_t, uint32_t> GetIOCounts() override { return {0, 0}; }
    void* GetHostContext() override { return &factory; }
    int32_t GetModeParameter() override { return 0; }
    int32_t GetVideoFormat() override { return 3; }
    uint32_t GetChannelCount() override { return 1; }
    std::string GetParamString(int) override { return ""; }
    int32_t GetParamInt(int) override { return 0; }
    zentavo::DEVICE_INFO device;
    PoolFactory factory;
};

class BenchClient final : public zentavo::IMediaParserClient {
public:
    bool OnFrameReady(zentavo::ipcapture::IHostFrame*) override { return true; }
    std::pair<uint32_t, uint32_t> GetRequestedSize() override { return {1920, 1080}; }
    void GetSourceName(std::string& name) override { name = "Halvencap"; }
    void GetCaptureTime(uint32_t, SYSTEMTIME& time) override { time = SYSTEMTIME{}; }
};

std::string StreamPath(const std::string& file) {
    const char* dir = std::getenv("HALVENCAP_STREAMS");
    return dir ? std::string(dir) + "/" + file : std::string();
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<Bytes> ReadDatagrams(const std::string& path) {
    const Bytes all = ReadFile(path);
    std::vector<Bytes> out;
    size_t pos = 0;
    while (pos + 4 <= all.size()) {
        const size_t n = (size_t(all[pos]) << 24) | (size_t(all[pos + 1]) << 16) | (size_t(all[pos + 2]) << 8) |
                         all[pos + 3];
        pos += 4;
        if (pos + n > all.size()) break;
        out.emplace_back(all.begin() + pos, all.begin() + pos + n);
        pos += n;
    }
    return out;
}

Bytes Datagram(uint16_t seq, uint32_t ts, bool marker, const Bytes& payload) {
    Bytes d = {0x80, uint8_t((marker ? 0x80 : 0) | 96), uint8_t(seq >> 8), uint8_t(seq), uint8_t(ts >> 24),
               uint8_t(ts >> 16), uint8_t(ts >> 8), uint8_t(ts), 1, 2, 3, 4};
    d.insert(d.end(), payload.begin(), payload.end());
    return d;
}

// Synthetic 1080p-like H.264: in-band parameter sets, 120 KB IDR and 40 KB
// predicted pictures cut into 1400-byte FU-A fragments.
std::vector<Bytes> SyntheticH264() {
    static const Bytes sps = {0x67, 0x64, 0x00, 0x28, 0xAC, 0xD9, 0x40, 0x78, 0x02, 0x27, 0xE5, 0x84, 0x00,
                              0x00, 0x03, 0x00, 0x04, 0x00, 0x00, 0x03, 0x00, 0xC8, 0x3C, 0x60, 0xC6, 0x58};
    static const Bytes pps = {0x68, 0xEB, 0xE3, 0xCB, 0x22, 0xC0};
    std::vector<Bytes> out;
    uint16_t seq = 0;
    for (int f = 0; f < 60; ++f) {
        const uint32_t ts = f * 3600;
        const bool idr = f % 30 == 0;
        if (idr) {
            out.push_back(Datagram(seq++, ts, false, sps));
            out.push_back(Datagram(seq++, ts, false, pps));
        }
        const size_t size = idr ? 120000 : 40000;
        for (size_t pos = 0; pos < size; pos += 1398) {
            const size_t n = std::min<size_t>(1398, size - pos);
            Bytes p = {0x7C, uint8_t((pos == 0 ? 0x80 : 0) | (pos + n == size ? 0x40 : 0) | (idr ? 5 : 1))};
            p.resize(2 + n, uint8_t(0x55 + f));
            out.push_back(Datagram(seq++, ts, pos + n == size, p));
        }
    }
    return out;
}

std::vector<zentavo::CRTPPacket> Parse(const std::vector<Bytes>& datagrams, size_t& payloadBytes) {
    std::vector<zentavo::CRTPPacket> packets(datagrams.size());
    payloadBytes = 0;
    for (size_t i = 0; i < datagrams.size(); ++i) {
        packets[i].Parse(static_cast<uint32_t>(datagrams[i].size()), datagrams[i].data());
        payloadBytes += packets[i].PayloadLength();
    }
    return packets;
}

void BM_Memcpy64MiB(benchmark::State& state) {
    const size_t size = 64u << 20;
    Bytes a(size, 1), b(size, 2);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), size);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

void BM_H264Depacketizer1080p(benchmark::State& state) {
    std::vector<Bytes> datagrams = ReadDatagrams(StreamPath("h264_1080.rtp"));
    if (datagrams.empty()) datagrams = SyntheticH264();
    size_t payload = 0;
    const auto packets = Parse(datagrams, payload);
    BenchDriver driver;
    BenchClient client;
    for (auto _ : state) {
        zentavo::CH264RTPMediaParser parser(&driver);
        parser.SetClient(&client);
        for (const auto& p : packets) parser.ProcessPacket(p);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(payload));
    state.counters["frames/pass"] = double(driver.factory.frames) / double(state.iterations());
}

void BM_Mpeg4Depacketizer1080p(benchmark::State& state) {
    std::vector<Bytes> datagrams = ReadDatagrams(StreamPath("mpeg4_1080.rtp"));
    Bytes config;
    if (datagrams.empty()) {
        // Synthetic: a 1920x1080 VOL as configuration, VOPs of 150 KB / 50 KB.
        config = {0x00, 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00, 0x01, 0xB5, 0x09, 0x00, 0x00, 0x01, 0x00,
                  0x00, 0x00, 0x01, 0x20, 0x00, 0x84, 0x40, 0x06, 0x43, 0x3C, 0x0F, 0x02, 0x21, 0xC4, 0x3F};
        uint16_t seq = 0;
        for (int f = 0; f < 60; ++f) {
            const bool intra = f % 30 == 0;
            const size_t size = intra ? 150000 : 50000;
            for (size_t pos = 0; pos < size; pos += 1400) {
                const size_t n = std::min<size_t>(1400, size - pos);
                Bytes p(n, uint8_t(0x33 + f));
                if (pos == 0) {
                    p[0] = 0;
                    p[1] = 0;
                    p[2] = 1;
                    p[3] = 0xB6;
                    p[4] = intra ? 0x10 : 0x50;
                }
                datagrams.push_back(Datagram(seq++, f * 3600, pos + n == size, p));
            }
        }
    }
    size_t payload = 0;
    const auto packets = Parse(datagrams, payload);
    BenchDriver driver;
    BenchClient client;
    for (auto _ : state) {
        zentavo::CMpeg4RTPMediaParser parser(&driver);
        parser.SetClient(&client);
        parser.SetParameterSets(Bytes(), Bytes(), config);
        for (const auto& p : packets) parser.ProcessPacket(p);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(payload));
    state.counters["frames/pass"] = double(driver.factory.frames) / double(state.iterations());
}

void BM_JpegScanner720p(benchmark::State& state) {
    Bytes body = ReadFile(StreamPath("mjpeg_1280.mjpeg"));
    if (body.empty()) {
        // Synthetic: 40 parts of 120 KB pictures with a 1280x720 SOF0.
        for (int i = 0; i < 40; ++i) {
            const std::string head = "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: 120000\r\n\r\n";
            body.insert(body.end(), head.begin(), head.end());
            const Bytes start = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x02, 0xD0, 0x05, 0x00, 0x03};
            body.insert(body.end(), start.begin(), start.end());
            for (int j = 0; j < 120000 - 14; ++j) body.push_back(uint8_t((j * 7 + i) % 255));
            body.push_back(0xFF);
            body.push_back(0xD9);
        }
    }
    BenchDriver driver;
    BenchClient client;
    const size_t chunk = 16384;  // a typical HTTP read
    for (auto _ : state) {
        zentavo::CJpegMediaParser parser(&driver);
        parser.SetClient(&client);
        for (size_t pos = 0; pos < body.size(); pos += chunk)
            parser.ProcessData(body.data() + pos, std::min(chunk, body.size() - pos));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(body.size()));
    state.counters["frames/pass"] = double(driver.factory.frames) / double(state.iterations());
}

BENCHMARK(BM_Memcpy64MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_H264Depacketizer1080p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mpeg4Depacketizer1080p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegScanner720p)->Unit(benchmark::kMillisecond);

// Console output plus the bandwidth of every run, for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            auto it = r.counters.find("bytes_per_second");
            if (it != r.counters.end()) rates[r.benchmark_name()] = it->second.value;
        }
    }
    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double copy = reporter.rates["BM_Memcpy64MiB"];
    if (copy <= 0) return 0;
    std::printf("\nShare of memcpy bandwidth (%.2f GB/s), target at least 30%%:\n", copy / 1e9);
    for (const auto& entry : reporter.rates) {
        if (entry.first == "BM_Memcpy64MiB") continue;
        const double share = 100.0 * entry.second / copy;
        std::printf("  %-28s %8.2f GB/s  %6.1f%%  %s\n", entry.first.c_str(), entry.second / 1e9, share,
                    share >= 30.0 ? "ok" : "BELOW TARGET");
    }
    return 0;
}
