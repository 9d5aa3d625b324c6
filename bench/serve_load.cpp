// Fetches a list of URL paths from a loopback HTTP server on several
// keep-alive connections at once and prints tiles per second and latency
// percentiles. Every answer must be 200 with a body.
//
//   serve_load PORT PATHS_FILE CLIENTS
// prints: <tiles/s> <p50 ms> <p99 ms> <failures>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: serve_load PORT PATHS_FILE CLIENTS\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const int clients = std::max(1, std::atoi(argv[3]));
  std::vector<std::string> paths;
  std::ifstream list(argv[2]);
  for (std::string line; std::getline(list, line);) {
    if (!line.empty()) paths.push_back(line);
  }
  std::vector<double> latencies(paths.size());
  std::atomic<std::size_t> next{0};
  std::atomic<int> failures{0};
  const Clock::time_point start = Clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&] {
      httplib::Client client("127.0.0.1", port);
      client.set_keep_alive(true);
      client.set_read_timeout(60);
      for (std::size_t i = next++; i < paths.size(); i = next++) {
        const Clock::time_point sent = Clock::now();
        const httplib::Result result = client.Get(paths[i].c_str());
        latencies[i] = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
        if (!result || result->status != 200 || result->body.empty()) ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::sort(latencies.begin(), latencies.end());
  const auto percentile = [&](double p) {
    return latencies.empty() ? 0.0
                             : latencies[static_cast<std::size_t>(p * (latencies.size() - 1))];
  };
  std::printf("%.1f %.2f %.2f %d\n", paths.size() / seconds, percentile(0.5), percentile(0.99),
              failures.load());
  return failures.load() == 0 ? 0 : 1;
}
