// The robustness campaign's driver side: the real DLL in this host process,
// several channels at once (Motion JPEG from the camera simulator, H.264 and
// MPEG-4 from GStreamer's server through the fault proxy), faults injected on
// a schedule, and start/stop and probe cycles with the process's threads,
// handles and private bytes before and after.
//
// Not part of the test run (DISABLED_); scripts/campaign.sh runs it with
// --gtest_also_run_disabled_tests and decodes what it wrote. Settings come
// from the environment:
//   HALVENCAP_CAMPAIGN_DIR       where results and delivered frames go (required)
//   HALVENCAP_CAMPAIGN_SECONDS   fault phase length (300)
//   HALVENCAP_CAMPAIGN_CHANNELS  channels, kinds in turn MJPEG, H264, MPEG4 (4)
//   HALVENCAP_CAMPAIGN_CYCLES    start/stop and probe cycles per kind (1000)
//   HALVENCAP_CAMPAIGN_SEED      seed of the proxies' RNGs (1)
//   HALVENCAP_CAMPAIGN_FAULTS    comma-separated fault names to use (all);
//                                a name that matches none ("none") leaves
//                                the channels streaming undisturbed
//   HALVENCAP_CAMPAIGN_SAMPLE_SECONDS  memory sample period (60)
//
// Results (tab-separated, one header line each):
//   faults.tsv     one row per injected fault
//   rules.tsv      one row per channel: frames and rule violations
//   leaks.tsv      one row per cycle kind
//   segments.tsv   delivered-frame files and the fault each belongs to
//   memory.tsv     one row per memory sample while the channels run, written
//                  as it is taken, so a long run can be watched
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capability/QueryExports.h"
#include "support/CamSim.h"
#include "support/CapabilityHost.h"
#include "support/DriverLibrary.h"
#include "support/FaultProxy.h"
#include "support/ProcessResources.h"
#include "support/RtspServer.h"
#include "support/TestFrameFactory.h"
#include "support/TestHost.h"

using namespace std::chrono_literals;
using namespace halvencap_test;

namespace {

using Clock = std::chrono::steady_clock;

// The driver's stream time-out (the shipped driver sets 15 s): signal lost
// from half of it, the loss reported from all of it.
constexpr int64_t kStreamTimeoutMs = 15000;
// How late a state or report may be seen against the frames this host saw.
constexpr int64_t kToleranceMs = 1000;
// After a fault is cleared frames must come back within this: a lost
// stream is noticed at half the time-out, rebuilt on the next turn, and the
// first key frame comes within a second or two of playing.
constexpr int64_t kRecoveryBoundMs = 2 * kStreamTimeoutMs + 5000;
// Frames must flow this long before the next fault, so faults do not overlap.
constexpr int64_t kSettleMs = 3000;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

long EnvLong(const char* name, long fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != 0 ? std::strtol(v, nullptr, 10) : fallback;
}

std::string EnvText(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

// A Linux path as this Wine process opens it.
std::string WinPath(const std::string& path) {
    std::string p = "Z:" + path;
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

enum class Kind { Mjpeg, H264, Mpeg4 };

struct KindInfo {
    const char* name;
    int32_t videoFormat;
    uint32_t keyCode;
    const char* ext;
};

const KindInfo& Info(Kind k) {
    static const KindInfo kInfo[] = {
        {"MJPEG", 1, 0x4745504A, "mjpeg"},
        {"H264", 3, 0x34363248, "h264"},
        {"MPEG4", 2, 0x58564944, "m4v"},
    };
    return kInfo[static_cast<int>(k)];
}

class Output {
public:
    explicit Output(const std::string& dir) : m_dir(dir) {}
    FILE* Open(const std::string& name, const char* mode) const {
        return std::fopen(WinPath(m_dir + "/" + name).c_str(), mode);
    }
    const std::string& Dir() const { return m_dir; }

private:
    std::string m_dir;
};

// The delivered frames of one channel, in files that each start at a key
// frame, so that every file decodes on its own. A fault asks for a new file;
// it begins at the next key frame.
class SegmentWriter {
public:
    SegmentWriter(const Output& out, int channel, Kind kind) : m_out(out), m_channel(channel), m_kind(kind) {
        m_pendingLabel = "start";
        m_split = true;
    }
    ~SegmentWriter() { Close(); }

    void Split(const std::string& label) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pendingLabel = label;
        m_split = true;
    }

    void Write(const uint8_t* data, size_t size, bool key) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_split && key) {
            CloseLocked();
            char name[128];
            std::snprintf(name, sizeof name, "ch%02d-%s-%03d-%s.%s", m_channel, Info(m_kind).name, m_sequence++,
                          m_pendingLabel.c_str(), Info(m_kind).ext);
            m_file = m_out.Open(std::string("frames/") + name, "wb");
            m_arrivals = m_out.Open(std::string("frames/") + name + ".ms", "w");
            m_segments.push_back({name, m_pendingLabel, 0});
            m_split = false;
        }
        if (m_file == nullptr) {
            ++m_unwritten;  // before the first key frame of a segment
            return;
        }
        // Every H.264 frame ends with an access unit delimiter, which opens
        // the next access unit; at the end of a file there is none to open,
        // so each one is written only once the next frame follows.
        static const uint8_t kDelimiter[5] = {0, 0, 1, 0x09, 0x30};
        if (m_kind == Kind::H264) {
            if (m_heldDelimiter) std::fwrite(kDelimiter, 1, 5, m_file);
            m_heldDelimiter = size >= 5 && std::equal(kDelimiter, kDelimiter + 5, data + size - 5);
            if (m_heldDelimiter) size -= 5;
        }
        std::fwrite(data, 1, size, m_file);
        // A looped clip delivers byte-equal pictures one loop apart; the
        // arrival times tell those from a frame delivered twice.
        if (m_arrivals != nullptr) std::fprintf(m_arrivals, "%lld\n", static_cast<long long>(NowMs()));
        ++m_segments.back().frames;
    }

    void Close() {
        std::lock_guard<std::mutex> lock(m_mutex);
        CloseLocked();
    }

    struct Segment {
        std::string file;
        std::string label;
        size_t frames;
    };
    std::vector<Segment> Segments() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_segments;
    }
    size_t Unwritten() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_unwritten;
    }

private:
    void CloseLocked() {
        if (m_file != nullptr) std::fclose(m_file);
        if (m_arrivals != nullptr) std::fclose(m_arrivals);
        m_file = nullptr;
        m_arrivals = nullptr;
        m_heldDelimiter = false;
    }

    const Output& m_out;
    int m_channel;
    Kind m_kind;
    std::mutex m_mutex;
    FILE* m_file = nullptr;
    FILE* m_arrivals = nullptr;  // one line per frame: arrival in ms
    bool m_heldDelimiter = false;
    bool m_split = false;
    std::string m_pendingLabel;
    int m_sequence = 0;
    size_t m_unwritten = 0;
    std::vector<Segment> m_segments;
};

// Checks the loss report against the frames this host saw: no report
// before the stream time-out has passed since the last frame.
class CampaignCallback : public TestChannelCallback {
public:
    void OnStreamLost() override {
        const int64_t since = NowMs() - lastFrameMs.load();
        if (since < kStreamTimeoutMs - kToleranceMs) ++earlyLossReports;
        TestChannelCallback::OnStreamLost();
    }
    std::atomic<int64_t> lastFrameMs{0};
    std::atomic<int> earlyLossReports{0};
};

struct FaultRecord {
    std::string fault;
    int64_t injectedMs = 0;   // from the campaign's start
    bool recovered = false;
    int64_t recoveryMs = -1;  // from clearing the fault to the next frame
    size_t frames = 0;        // frames delivered from injection to the next fault
    size_t lossReports = 0;   // from injection to the first frame after clearing
    bool lostState = false;   // signal lost reported in that time
};

struct Fault {
    std::string name;
    int64_t holdMs;
    // Injects (true: started), then clears after holdMs.
    std::function<bool()> inject;
    std::function<bool()> clear;
};

class CampaignChannel {
public:
    CampaignChannel(int index, Kind kind, const DriverLibrary& library, const Output& out, long seed)
        : m_index(index), m_kind(kind), m_library(library), m_writer(out, index, kind), m_seed(seed) {}

    ~CampaignChannel() { Stop(); }

    bool Prepare(std::string& why) {
        auto cam = CamSim().NewCamera(m_kind == Kind::Mjpeg ? "width=320&height=240&fps=10" : "width=640&height=480");
        if (!cam) return why = "no camera", false;
        m_camera.emplace(std::move(*cam));
        m_config.port = m_camera->port;
        m_config.videoFormat = Info(m_kind).videoFormat;
        m_channelConfig.width = m_kind == Kind::Mjpeg ? 320 : 640;
        m_channelConfig.height = m_kind == Kind::Mjpeg ? 240 : 480;
        m_channelConfig.frameIntervalMs = m_kind == Kind::Mjpeg ? 100 : 40;
        if (m_kind != Kind::Mjpeg) {
            auto srv = RtspServer::Create("codec=both&auth=none");
            if (!srv) return why = "no RTSP server", false;
            m_server.emplace(std::move(*srv));
            auto proxy = FaultProxy::Create(m_server->port, "seed=" + std::to_string(m_seed + m_index));
            if (!proxy) return why = "no fault proxy", false;
            m_proxy.emplace(std::move(*proxy));
            std::string setup = "Streaming.RTSPPort=" + std::to_string(m_proxy->port);
            if (m_kind == Kind::Mpeg4) setup += "&Stream.GopLength_ms[0]=1000";
            if (!m_camera->Param(setup)) return why = "camera setup", false;
        }
        m_callback.onFrame = [this](zentavo::ipcapture::IHostFrame* frame) {
            auto* f = static_cast<TestFrame*>(frame);
            const FrameRecord r = f->Record(false);
            m_callback.lastFrameMs = NowMs();
            ++m_frames;
            m_writer.Write(f->Data(), r.dataSize, r.code == Info(m_kind).keyCode);
        };
        return true;
    }

    bool Start() {
        m_driver = DriverPtr(m_library.Create(), DriverDeleter{&m_library});
        if (!m_driver || !m_driver->Open(&m_sink, &m_factory, &m_config)) return false;
        m_capture = m_driver->GetVideoCaptureEx();
        m_callback.lastFrameMs = NowMs();
        m_running = m_capture != nullptr && m_capture->StartChannel(0, &m_callback, &m_channelConfig);
        return m_running;
    }

    void Stop() {
        m_running = false;
        if (m_capture != nullptr) {
            const int64_t t0 = NowMs();
            m_capture->StopChannel(0);
            m_worstStopMs = std::max(m_worstStopMs, NowMs() - t0);
            m_capture = nullptr;
        }
        m_driver.reset();
        m_writer.Close();
        m_writer.Split("rebuilt");
    }

    // The channel's state against the frames seen; called now and then.
    void Sample() {
        if (m_capture == nullptr) return;
        int32_t state = -1, error = -1;
        char text[64];
        if (!m_capture->GetChannelState(0, &state, &error, text, sizeof text)) return;
        const int64_t since = NowMs() - m_callback.lastFrameMs.load();
        if (m_frames.load() == 0) return;  // before the first frame the channel is still starting
        if (state == 2) m_sawLostState = true;
        // Signal lost too early: a streaming channel that turned to 2 while
        // frames were recent. A channel still (re)connecting reads 2 as well
        // (stopped is shown as signal lost), also when its first frame has
        // just come and the capture thread has not yet marked it streaming.
        if (state == 2 && m_lastState == 0 && since < kStreamTimeoutMs / 2 - kToleranceMs) ++m_earlyLostStates;
        m_lastState = state;
        // Streaming long after the last frame. A reconnect after a long
        // outage reads streaming from the moment its stream is open, a
        // moment before the first frame of it comes: only a state that
        // stays so for longer than that counts, once.
        const int64_t now = NowMs();
        if (state == 0 && since > kStreamTimeoutMs + 2 * kToleranceMs) {
            if (m_staleSinceMs == 0) m_staleSinceMs = now;
            if (!m_staleCounted && now - m_staleSinceMs >= kToleranceMs) {
                ++m_staleStreamingStates;
                m_staleCounted = true;
            }
        } else {
            m_staleSinceMs = 0;
            m_staleCounted = false;
        }
        // The campaign looks at frames and log lines as they come; kept,
        // they would grow this process and read as a leak in memory.tsv.
        m_factory.ClearRecords();
        m_sink.Clear();
    }

    std::vector<Fault> Faults() {
        std::vector<Fault> f;
        Camera& cam = *m_camera;
        auto kick = [&cam] { return cam.Set("down=1") && cam.Set("down=0"); };
        if (m_kind == Kind::Mjpeg) {
            f.push_back({"hang", 5000, [&cam] { return cam.Set("hang=1"); }, [&cam] { return cam.Set("hang=0"); }});
            f.push_back({"stream_drop", 5000, [&cam] { return cam.Set("drop_after=5"); },
                         [&cam] { return cam.Set("drop_after=0"); }});
            f.push_back({"camera_restart", 4000, [&cam] { return cam.Set("down=1"); }, [&cam] { return cam.Set("down=0"); }});
            f.push_back({"http_500", 5000, [&cam, kick] { return cam.Set("status=500") && kick(); },
                         [&cam] { return cam.Set("status=0"); }});
            f.push_back({"http_401", 5000, [&cam, kick] { return cam.Set("status=401") && kick(); },
                         [&cam] { return cam.Set("status=0"); }});
            // Random bytes on the running stream and for every new request.
            f.push_back({"garbage_all", 5000, [&cam] { return cam.Set("garbage=1"); },
                         [&cam] { return cam.Set("garbage=0"); }});
            // Past the stream time-out: the loss must be reported.
            f.push_back({"long_outage", kStreamTimeoutMs + 5000, [&cam] { return cam.Set("down=1"); },
                         [&cam] { return cam.Set("down=0"); }});
            return f;
        }
        FaultProxy& proxy = *m_proxy;
        RtspServer& server = *m_server;
        f.push_back({"hang", 5000, [&cam, &proxy] { return cam.Set("hang=1") && proxy.Set("blackhole=1"); },
                     [&cam, &proxy] { return cam.Set("hang=0") && proxy.Set("blackhole=0"); }});
        f.push_back({"stream_drop", 0, [&proxy] { return proxy.DropConnections(); }, [] { return true; }});
        f.push_back({"camera_restart", 4000, [&cam, &proxy] { return cam.Set("down=1") && proxy.DropConnections(); },
                     [&cam] { return cam.Set("down=0"); }});
        f.push_back({"http_500", 5000, [&cam, &proxy] { return cam.Set("status=500") && proxy.DropConnections(); },
                     [&cam] { return cam.Set("status=0"); }});
        f.push_back({"http_401", 5000, [&cam, &proxy] { return cam.Set("status=401") && proxy.DropConnections(); },
                     [&cam] { return cam.Set("status=0"); }});
        f.push_back({"rtsp_restart", 4000, [&server] { return server.Kill(); }, [&server] { return server.Listen(); }});
        // Random bytes on every socket: HTTP, RTSP, and after each RTP packet.
        f.push_back({"garbage_all", 5000,
                     [&cam, &proxy] {
                         return cam.Set("garbage=1") && proxy.Set("rtsp_garbage=1&garbage=1") &&
                                proxy.DropConnections();
                     },
                     [&cam, &proxy] { return cam.Set("garbage=0") && proxy.Set("clear="); }});
        // The camera's web side sane, its RTSP and RTP sides garbage; held
        // past half the stream time-out, so that the channel's reconnect
        // meets the garbage.
        f.push_back({"garbage_rtsp", kStreamTimeoutMs / 2 + 5000,
                     [&proxy] { return proxy.Set("rtsp_garbage=1&garbage=1") && proxy.DropConnections(); },
                     [&proxy] { return proxy.Set("clear="); }});
        // Past the stream time-out: the loss must be reported.
        f.push_back({"long_outage", kStreamTimeoutMs + 5000, [&server] { return server.Kill(); },
                     [&server] { return server.Listen(); }});
        auto rate = [&proxy](const std::string& name, const char* query, int64_t holdMs) {
            return Fault{name, holdMs, [&proxy, query] { return proxy.Set(query); },
                         [&proxy] { return proxy.Set("clear="); }};
        };
        f.push_back(rate("loss_1pct", "drop=0.01", 10000));
        f.push_back(rate("loss_5pct", "drop=0.05", 10000));
        f.push_back(rate("loss_20pct", "drop=0.2", 10000));
        f.push_back(rate("reorder", "reorder=0.05", 10000));
        f.push_back(rate("duplicate", "duplicate=0.05", 10000));
        f.push_back(rate("garbage", "garbage=0.02", 10000));
        return f;
    }

    // Runs faults in turn until endMs; each is injected once frames flow,
    // held, cleared, and followed by the wait for frames.
    void RunFaults(int64_t campaignStartMs, int64_t endMs, const std::vector<std::string>& only) {
        std::vector<Fault> faults = Faults();
        if (!only.empty())
            faults.erase(std::remove_if(faults.begin(), faults.end(),
                                        [&](const Fault& f) {
                                            return std::find(only.begin(), only.end(), f.name) == only.end();
                                        }),
                         faults.end());
        if (faults.empty()) {
            // Nothing to inject: the channels stream undisturbed, the
            // baseline a leak slope is judged against.
            while (NowMs() < endMs) std::this_thread::sleep_for(200ms);
            return;
        }
        size_t next = static_cast<size_t>(m_index) % faults.size();  // channels start at different faults
        // Frames first: the start is not a fault.
        WaitFrame(NowMs(), kRecoveryBoundMs * 2);
        while (NowMs() + 20000 < endMs) {
            const Fault& fault = faults[next++ % faults.size()];
            // Frames must flow before a fault, so each one starts from a playing stream.
            const int64_t flowing = NowMs();
            while (NowMs() - flowing < kSettleMs) std::this_thread::sleep_for(100ms);
            FaultRecord rec;
            rec.fault = fault.name;
            rec.injectedMs = NowMs() - campaignStartMs;
            const size_t framesBefore = m_frames.load();
            CloseFrameCount(framesBefore);
            m_writer.Split(fault.name);
            const size_t lossBefore = m_callback.StreamLost();
            m_sawLostState = false;
            if (!fault.inject()) ++m_controlErrors;
            if (fault.holdMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(fault.holdMs));
            if (!fault.clear()) ++m_controlErrors;
            const int64_t clearedAt = NowMs();
            const int64_t frameAt = WaitFrame(clearedAt, kRecoveryBoundMs);
            rec.recovered = frameAt != 0;
            rec.recoveryMs = frameAt != 0 ? frameAt - clearedAt : -1;
            rec.lossReports = m_callback.StreamLost() - lossBefore;
            rec.lostState = m_sawLostState.load();
            {
                std::lock_guard<std::mutex> lock(m_recordsMutex);
                m_records.push_back(rec);
                m_recordFramesFrom = framesBefore;
            }
            if (!rec.recovered) {
                // The channel did not come back: build it anew so the campaign goes on.
                ++m_restarts;
                Stop();
                Start();
                WaitFrame(NowMs(), kRecoveryBoundMs);
            }
        }
    }

    // Frames per fault: from its injection to the next one's (or the end).
    void CloseFrameCount(size_t framesNow) {
        std::lock_guard<std::mutex> lock(m_recordsMutex);
        if (!m_records.empty() && m_records.back().frames == 0)
            m_records.back().frames = framesNow - m_recordFramesFrom;
    }

    // The first frame delivered after fromMs: its time, 0 past the bound.
    int64_t WaitFrame(int64_t fromMs, int64_t boundMs) {
        const int64_t deadline = fromMs + boundMs;
        while (NowMs() < deadline) {
            const int64_t last = m_callback.lastFrameMs.load();
            if (last > fromMs) return last;
            std::this_thread::sleep_for(20ms);
        }
        return 0;
    }

    std::vector<FaultRecord> Records() {
        std::lock_guard<std::mutex> lock(m_recordsMutex);
        return m_records;
    }

    int Index() const { return m_index; }
    bool Running() const { return m_running.load(); }
    Kind GetKind() const { return m_kind; }
    size_t Frames() const { return m_frames.load(); }
    SegmentWriter& Writer() { return m_writer; }
    int EarlyLossReports() const { return m_callback.earlyLossReports.load(); }
    size_t LossReports() const { return m_callback.StreamLost(); }
    int EarlyLostStates() const { return m_earlyLostStates.load(); }
    int StaleStreamingStates() const { return m_staleStreamingStates.load(); }
    int ControlErrors() const { return m_controlErrors.load(); }
    int Restarts() const { return m_restarts.load(); }
    int64_t WorstStopMs() const { return m_worstStopMs; }
    size_t Overruns() const { return m_factory.Overruns(); }
    size_t Outstanding() const { return m_factory.Outstanding(); }
    std::map<std::string, long> ProxyCounters() const {
        return m_proxy ? m_proxy->Counters() : std::map<std::string, long>();
    }

private:
    int m_index;
    Kind m_kind;
    const DriverLibrary& m_library;
    SegmentWriter m_writer;
    long m_seed;
    std::optional<Camera> m_camera;
    std::optional<RtspServer> m_server;
    std::optional<FaultProxy> m_proxy;
    TestDebugSink m_sink;
    TestFrameFactory m_factory;
    TestDeviceConfig m_config;
    TestChannelConfig m_channelConfig;
    CampaignCallback m_callback;
    DriverPtr m_driver{nullptr, DriverDeleter{nullptr}};
    zentavo::ipcapture::IIPVideoCaptureEx* m_capture = nullptr;
    std::atomic<size_t> m_frames{0};
    std::atomic<bool> m_running{false};  // read by the memory sampler
    std::atomic<int> m_earlyLostStates{0};
    int32_t m_lastState = -1;  // as last sampled; only Sample touches it
    std::atomic<int> m_staleStreamingStates{0};
    int64_t m_staleSinceMs = 0;  // first sample of the current stale streaming state
    bool m_staleCounted = false;
    std::atomic<int> m_controlErrors{0};
    std::atomic<int> m_restarts{0};
    std::atomic<bool> m_sawLostState{false};
    int64_t m_worstStopMs = 0;
    std::mutex m_recordsMutex;
    std::vector<FaultRecord> m_records;
    size_t m_recordFramesFrom = 0;
};

// Samples the process every period while the channels run, one row each,
// flushed at once: a slope of private bytes or handles over hours is a leak
// that the before/after of the cycles is too short to show.
class MemorySampler {
public:
    MemorySampler(const Output& out, std::function<int()> running, long periodSeconds)
        : m_file(out.Open("memory.tsv", "w")), m_running(std::move(running)),
          m_period(std::chrono::seconds(std::max(1L, periodSeconds))) {
        if (m_file != nullptr)
            std::fprintf(m_file, "elapsed_s\tchannels\tthreads\thandles\tprivate_kb\tvirtual_kb\n");
        m_start = Clock::now();
        m_thread = std::thread([this] { Run(); });
    }
    ~MemorySampler() {
        Finish();
        m_thread.join();
        if (m_file != nullptr) std::fclose(m_file);
    }
    bool Opened() const { return m_file != nullptr; }
    // No more samples: once the first channel's run ends, threads and
    // buffers of the campaign itself go, which is no trend of the driver's.
    void Finish() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (auto next = m_start; !m_done; next += m_period) {
            if (m_wake.wait_until(lock, next, [this] { return m_done; })) break;
            Write();
        }
    }
    void Write() {
        if (m_file == nullptr) return;
        const Resources r = Measure();
        // The address space in use: a 32-bit process runs out of that
        // before it runs out of memory.
        MEMORYSTATUSEX status{};
        status.dwLength = sizeof status;
        const unsigned long long virtualKb =
            GlobalMemoryStatusEx(&status) ? (status.ullTotalVirtual - status.ullAvailVirtual) / 1024 : 0;
        const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - m_start).count();
        std::fprintf(m_file, "%lld\t%d\t%u\t%lu\t%zu\t%llu\n", static_cast<long long>(elapsed), m_running(),
                     r.threads, static_cast<unsigned long>(r.handles), r.privateBytes / 1024,
                     virtualKb);
        std::fflush(m_file);
    }

    FILE* m_file;
    std::function<int()> m_running;
    std::chrono::seconds m_period;
    Clock::time_point m_start;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_thread;
};

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ','))
        if (!item.empty()) out.push_back(item);
    return out;
}

class Campaign : public ::testing::Test {
protected:
    void SetUp() override {
        dir = EnvText("HALVENCAP_CAMPAIGN_DIR");
        if (dir.empty()) GTEST_SKIP() << "HALVENCAP_CAMPAIGN_DIR unset (run scripts/campaign.sh)";
        if (!CamSim::Available()) GTEST_SKIP() << "camera simulator not running";
        ASSERT_TRUE(library.Loaded());
        CreateDirectoryA(WinPath(dir + "/frames").c_str(), nullptr);
    }
    std::string dir;
    DriverLibrary library;
};

}  // namespace

TEST_F(Campaign, DISABLED_FaultsAcrossChannels) {
    ASSERT_TRUE(RtspServer::Available()) << "RTSP server not running";
    ASSERT_TRUE(FaultProxy::Available()) << "fault proxy not running";
    const Output out(dir);
    const long seconds = EnvLong("HALVENCAP_CAMPAIGN_SECONDS", 300);
    const long count = EnvLong("HALVENCAP_CAMPAIGN_CHANNELS", 4);
    const long seed = EnvLong("HALVENCAP_CAMPAIGN_SEED", 1);
    const auto only = SplitList(EnvText("HALVENCAP_CAMPAIGN_FAULTS"));
    const Kind kinds[] = {Kind::Mjpeg, Kind::H264, Kind::Mpeg4};

    std::vector<std::unique_ptr<CampaignChannel>> channels;
    for (long i = 0; i < count; ++i) {
        channels.push_back(std::make_unique<CampaignChannel>(static_cast<int>(i), kinds[i % 3], library, out, seed));
        std::string why;
        ASSERT_TRUE(channels.back()->Prepare(why)) << "channel " << i << ": " << why;
    }
    for (auto& c : channels) ASSERT_TRUE(c->Start()) << "channel " << c->Index();

    const int64_t startMs = NowMs();
    const int64_t endMs = startMs + seconds * 1000;
    std::atomic<bool> done{false};
    std::optional<MemorySampler> memory;
    memory.emplace(
        out,
        [&channels] {
            return static_cast<int>(std::count_if(channels.begin(), channels.end(),
                                                  [](const std::unique_ptr<CampaignChannel>& c) { return c->Running(); }));
        },
        EnvLong("HALVENCAP_CAMPAIGN_SAMPLE_SECONDS", 60));
    EXPECT_TRUE(memory->Opened()) << "memory.tsv";
    std::thread sampler([&] {
        while (!done) {
            for (auto& c : channels) c->Sample();
            std::this_thread::sleep_for(200ms);
        }
    });
    std::vector<std::thread> runners;
    for (auto& c : channels)
        runners.emplace_back([&, ch = c.get()] {
            ch->RunFaults(startMs, endMs, only);
            memory->Finish();
        });
    for (auto& t : runners) t.join();
    done = true;
    sampler.join();
    memory.reset();
    for (auto& c : channels) {
        c->CloseFrameCount(c->Frames());
        c->Stop();
    }

    FILE* faults = out.Open("faults.tsv", "w");
    FILE* rules = out.Open("rules.tsv", "w");
    FILE* segments = out.Open("segments.tsv", "w");
    ASSERT_TRUE(faults && rules && segments);
    std::fprintf(faults, "channel\tkind\tfault\tinjected_ms\trecovered\trecovery_ms\tframes\tloss_reports\tlost_state\n");
    std::fprintf(rules,
                 "channel\tkind\tframes\tloss_reports\tearly_loss_reports\tearly_lost_states\tstale_streaming_states"
                 "\trebuilt\tcontrol_errors\tworst_stop_ms\toverruns\toutstanding\tframes_before_key\tproxy\n");
    std::fprintf(segments, "channel\tkind\tfile\tfault\tframes\n");
    for (auto& c : channels) {
        const char* kind = Info(c->GetKind()).name;
        for (const auto& r : c->Records())
            std::fprintf(faults, "%d\t%s\t%s\t%lld\t%d\t%lld\t%zu\t%zu\t%d\n", c->Index(), kind, r.fault.c_str(),
                         static_cast<long long>(r.injectedMs), r.recovered ? 1 : 0,
                         static_cast<long long>(r.recoveryMs), r.frames, r.lossReports, r.lostState ? 1 : 0);
        std::string proxy;
        for (const auto& [k, v] : c->ProxyCounters()) proxy += (proxy.empty() ? "" : ",") + k + "=" + std::to_string(v);
        std::fprintf(rules, "%d\t%s\t%zu\t%zu\t%d\t%d\t%d\t%d\t%d\t%lld\t%zu\t%zu\t%zu\t%s\n", c->Index(), kind,
                     c->Frames(), c->LossReports(), c->EarlyLossReports(), c->EarlyLostStates(),
                     c->StaleStreamingStates(), c->Restarts(), c->ControlErrors(),
                     static_cast<long long>(c->WorstStopMs()), c->Overruns(), c->Outstanding(),
                     c->Writer().Unwritten(), proxy.empty() ? "-" : proxy.c_str());
        for (const auto& s : c->Writer().Segments())
            std::fprintf(segments, "%d\t%s\t%s\t%s\t%zu\n", c->Index(), kind, s.file.c_str(), s.label.c_str(), s.frames);
    }
    std::fclose(faults);
    std::fclose(rules);
    std::fclose(segments);
    for (auto& c : channels) {
        EXPECT_GT(c->Frames(), 0u) << "channel " << c->Index();
        EXPECT_EQ(c->Overruns(), 0u) << "channel " << c->Index();
        EXPECT_EQ(c->Outstanding(), 0u) << "channel " << c->Index();
    }
}

TEST_F(Campaign, DISABLED_StartStopAndProbeCycles) {
    const Output out(dir);
    const long cycles = EnvLong("HALVENCAP_CAMPAIGN_CYCLES", 1000);
    FILE* leaks = out.Open("leaks.tsv", "w");
    ASSERT_NE(leaks, nullptr);
    std::fprintf(leaks, "cycle_kind\tcycles\tthreads_before\tthreads_after\thandles_before\thandles_after"
                        "\tprivate_kb_before\tprivate_kb_after\tfailures\n");
    auto row = [&](const char* name, long n, const Resources& a, const Resources& b, int failures) {
        std::fprintf(leaks, "%s\t%ld\t%u\t%u\t%lu\t%lu\t%zu\t%zu\t%d\n", name, n, a.threads, b.threads,
                     static_cast<unsigned long>(a.handles), static_cast<unsigned long>(b.handles),
                     a.privateBytes / 1024, b.privateBytes / 1024, failures);
        std::fflush(leaks);
        std::printf("%-12s %ld cycles: threads %u -> %u, handles %lu -> %lu, private KB %zu -> %zu, failures %d\n",
                    name, n, a.threads, b.threads, static_cast<unsigned long>(a.handles),
                    static_cast<unsigned long>(b.handles), a.privateBytes / 1024, b.privateBytes / 1024, failures);
    };
    // Joined threads may take a moment to leave the process's list.
    auto settled = [](const Resources& before) {
        Resources now = Measure();
        for (int i = 0; i < 100 && now.threads > before.threads; ++i) {
            std::this_thread::sleep_for(50ms);
            now = Measure();
        }
        return now;
    };

    const Kind kinds[] = {Kind::Mjpeg, Kind::H264, Kind::Mpeg4};
    for (Kind kind : kinds) {
        if (kind != Kind::Mjpeg && !RtspServer::Available()) continue;
        auto cam = CamSim().NewCamera("width=320&height=240&fps=10");
        ASSERT_TRUE(cam);
        std::optional<RtspServer> server;
        if (kind != Kind::Mjpeg) {
            auto srv = RtspServer::Create("codec=both&auth=none");
            ASSERT_TRUE(srv);
            server.emplace(std::move(*srv));
            std::string setup = "Streaming.RTSPPort=" + std::to_string(server->port);
            if (kind == Kind::Mpeg4) setup += "&Stream.GopLength_ms[0]=1000";
            ASSERT_TRUE(cam->Param(setup));
        }
        TestDebugSink sink;
        TestFrameFactory factory;
        TestDeviceConfig config;
        config.port = cam->port;
        config.videoFormat = Info(kind).videoFormat;
        TestChannelConfig channelConfig;
        channelConfig.width = 320;
        channelConfig.height = 240;
        TestChannelCallback callback;
        DriverPtr driver(library.Create(), DriverDeleter{&library});
        ASSERT_TRUE(driver->Open(&sink, &factory, &config));
        auto* capture = driver->GetVideoCapture();
        // Warm up once so lazily created process-wide objects are not counted.
        ASSERT_TRUE(capture->StartChannel(0, &callback, &channelConfig));
        ASSERT_TRUE(callback.WaitFrames(1, 60s));
        capture->StopChannel(0);
        const Resources before = settled(Measure());
        int failures = 0;
        for (long i = 0; i < cycles; ++i) {
            if (!capture->StartChannel(0, &callback, &channelConfig)) ++failures;
            // Now and then far enough for frames to flow.
            if (i % 25 == 0 && !callback.WaitFrames(callback.Frames() + 1, 60s)) ++failures;
            if (!capture->StopChannel(0)) ++failures;
            if (i % 50 == 0) factory.ClearRecords();
        }
        const Resources after = settled(before);
        row((std::string("start_stop_") + Info(kind).name).c_str(), cycles, before, after, failures);
        EXPECT_EQ(failures, 0) << Info(kind).name;
        EXPECT_EQ(factory.Outstanding(), 0u) << Info(kind).name;
    }

    // Probe cycles: the capability query's whole life against a camera.
    {
        auto cam = CamSim().NewCamera();
        ASSERT_TRUE(cam);
        QueryExports exports(library);
        ASSERT_TRUE(exports.Complete());
        int failures = 0;
        auto probe = [&] {
            TestCapabilityResults results;
            TestCapabilityCallback callback;
            if (exports.init(&callback, 1) != 1) return false;
            bool ok = exports.start("127.0.0.1", cam->port, "", "", &results) == 1 && callback.Wait(1, 60s) &&
                      callback.Outcomes().at(0).kind == CapabilityOutcome::Completed;
            exports.uninit();
            return ok;
        };
        if (!probe()) ++failures;  // warm-up
        const Resources before = settled(Measure());
        for (long i = 0; i < cycles; ++i)
            if (!probe()) ++failures;
        const Resources after = settled(before);
        row("probe", cycles, before, after, failures);
        EXPECT_EQ(failures, 0);
    }
    std::fclose(leaks);
}
