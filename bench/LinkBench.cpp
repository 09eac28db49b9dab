// Timing of the link on a real pseudo-terminal, through the real serial port:
//  - CPU share of a handshake that nobody answers (goal: at most 5 % of its wall time),
//  - latency from the last reply byte to the end of reply collection (goal: median < 0.2 ms),
//  - spacing of the connect frames seen by the receiving side (goal: median 1.05 ms +- 0.05).
// Each benchmark runs its measurement once per iteration and reports the figures as counters.
#include "link/KVTComms.h"
#include "link/USBtoUART.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The far end of the adapter: the master side of a pseudo-terminal.
struct Pty {
  int master = -1;
  std::string slave;
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) throw std::runtime_error("no pseudo-terminal");
    slave = ptsname(master);
  }
  ~Pty() {
    if (master >= 0) close(master);
  }
};

// A link whose port is the slave side, opened the way an operation opens it.
std::unique_ptr<TComKVT> OpenLink(const Pty& pty) {
  setenv("BEAMDOCK_PORT", pty.slave.c_str(), 1);
  auto link = std::make_unique<TComKVT>();
  int port = 0;
  if (FindComPort(link->Ports(), link->FDefPort, port) != 0) throw std::runtime_error("BEAMDOCK_PORT not honoured");
  link->ComOpen(port);
  return link;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double CpuSeconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

template <typename T>
T Percentile(std::vector<T> v, double p) {
  if (v.empty()) return T{};
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5)];
}

void BM_SilentHandshakeCpuShare(benchmark::State& state) {
  const float timeOut = static_cast<float>(state.range(0)) / 1000.0f;
  double share = 0, threadShare = 0, frames = 0;
  for (auto _ : state) {
    Pty pty;
    // Nobody answers, but somebody drains the line so the frames never back up. The drain
    // runs in a child so its CPU time is not counted as the link's.
    const pid_t drain = fork();
    if (drain == 0) {
      char sink[4096];
      while (read(pty.master, sink, sizeof sink) > 0) {
      }
      _exit(0);
    }
    auto link = OpenLink(pty);
    int sent = 0;
    link->FOnKVTEvent = [&](TComKVT*, TDateTime, const std::string& s) {
      if (s.rfind("[CHECK TIME] ", 0) == 0) sent = std::atoi(s.c_str() + s.find('(') + 1);
    };
    const double cpu0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double thread0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    const auto wall0 = Clock::now();
    const uint8_t result = link->ConnectKVT(timeOut);
    const double wall = Seconds(Clock::now() - wall0);
    const double cpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    threadShare = (CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - thread0) / wall;
    link.reset();
    kill(drain, SIGTERM);
    waitpid(drain, nullptr, 0);
    if (result != LINK_NOCONNECT) state.SkipWithError("somebody answered the handshake");
    share = cpu / wall;
    frames = sent;
    state.SetIterationTime(wall);
  }
  // The whole process (the port's event thread included), and the calling thread alone.
  state.counters["cpu_share_pct"] = share * 100.0;
  state.counters["caller_cpu_pct"] = threadShare * 100.0;
  state.counters["frames"] = frames;
}
BENCHMARK(BM_SilentHandshakeCpuShare)->Arg(3000)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ReplyLatency(benchmark::State& state) {
  Pty pty;
  auto link = OpenLink(pty);
  std::atomic<bool> stop{false};
  std::atomic<Clock::rep> lastByteSteady{0};
  std::atomic<TDateTime::rep> lastByteWall{0};
  // The detector: answers every frame with ACK after 2 ms, so the link is waiting in poll
  // when the reply comes, and stamps the moment the last byte is handed to the line.
  std::thread detector([&] {
    static const uint8_t kAck[3] = {0xB5, 0xB7, 0xC1};
    char buf[64];
    while (!stop) {
      pollfd p{pty.master, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      if (read(pty.master, buf, sizeof buf) <= 0) continue;
      std::this_thread::sleep_for(2ms);
      lastByteWall = std::chrono::system_clock::now().time_since_epoch().count();
      lastByteSteady = Clock::now().time_since_epoch().count();
      if (write(pty.master, kAck, 3) != 3) break;
    }
  });
  std::vector<double> collectUs, returnUs;
  for (auto _ : state) {
    const uint8_t result = link->SendCommand(2, 0x5F, 3, 0.1f);
    const auto returned = Clock::now();
    if (result != LINK_OK) {
      state.SkipWithError("no ACK");
      break;
    }
    const TDateTime sent{TDateTime::duration(lastByteWall.load())};
    collectUs.push_back(std::chrono::duration<double, std::micro>(link->FRevTime - sent).count());
    const Clock::time_point sentSteady{Clock::duration(lastByteSteady.load())};
    returnUs.push_back(std::chrono::duration<double, std::micro>(returned - sentSteady).count());
  }
  stop = true;
  detector.join();
  state.counters["collect_median_us"] = Percentile(collectUs, 0.5);
  state.counters["collect_p90_us"] = Percentile(collectUs, 0.9);
  // SendReceive ends with its 1 ms inter-request pause; this is the whole return.
  state.counters["return_median_us"] = Percentile(returnUs, 0.5);
}
BENCHMARK(BM_ReplyLatency)->Iterations(300)->Unit(benchmark::kMillisecond);

void BM_ConnectFrameSpacing(benchmark::State& state) {
  double median = 0, p10 = 0, p90 = 0, joined = 0, count = 0, timed = 0;
  for (auto _ : state) {
    Pty pty;
    auto link = OpenLink(pty);
    std::atomic<bool> stop{false};
    std::vector<Clock::time_point> arrivals;
    std::vector<bool> single;  // the read held exactly one frame
    int merged = 0;
    std::thread receiver([&] {
      uint8_t buf[64];
      while (!stop) {
        pollfd p{pty.master, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        const int n = static_cast<int>(read(pty.master, buf, sizeof buf));
        const auto now = Clock::now();
        if (n <= 0) continue;
        if (n > 3) merged += n / 3 - 1;  // frames that arrived together cannot be timed apart
        arrivals.push_back(now);
        single.push_back(n == 3);
      }
    });
    link->ConnectKVT(1.0f);
    std::this_thread::sleep_for(20ms);
    stop = true;
    receiver.join();
    std::vector<double> gaps;
    // Only gaps between two reads of one frame each: a late receiver is not a late sender.
    for (size_t i = 1; i < arrivals.size(); ++i)
      if (single[i] && single[i - 1])
        gaps.push_back(std::chrono::duration<double, std::micro>(arrivals[i] - arrivals[i - 1]).count());
    median = Percentile(gaps, 0.5);
    p10 = Percentile(gaps, 0.1);
    p90 = Percentile(gaps, 0.9);
    joined = merged;
    count = static_cast<double>(arrivals.size());
    timed = static_cast<double>(gaps.size());
  }
  state.counters["gap_median_us"] = median;
  state.counters["gap_p10_us"] = p10;
  state.counters["gap_p90_us"] = p90;
  state.counters["reads"] = count;
  state.counters["gaps_timed"] = timed;
  state.counters["merged_frames"] = joined;
}
BENCHMARK(BM_ConnectFrameSpacing)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
