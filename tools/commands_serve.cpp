// strata serve: slides in the browser over HTTP.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "strata/slide/system.h"
#include "tools/command.h"
#include "tools/serve/slide_server.h"

namespace strata::tools {
namespace {

constexpr int kMaxThreads = 256;
constexpr int kMaxCacheMb = 1 << 16;

int RunServe(const Arguments& arguments) {
  if (arguments.positional().empty()) {
    return ReportError(
        "usage: strata serve [OPTIONS] PATH... (slide files, folders of slides, http:// URLs)");
  }
  serve::ServerOptions options;
  options.bind = arguments.Text("--bind", options.bind);
  options.log = arguments.Has("--log");
  options.readOnly = arguments.Has("--read-only");
  const int defaultThreads = static_cast<int>(std::max(16u, 4 * system::ProcessorCount()));
  std::string error;
  if (!arguments.Int("--port", 8080, 0, 65535, &options.port, &error) ||
      !arguments.Int("--threads", defaultThreads, 1, kMaxThreads, &options.threads, &error) ||
      !arguments.Int("--cache-mb", 256, 0, kMaxCacheMb, &options.cacheMb, &error)) {
    return ReportUsageError(error);
  }
  if (arguments.Has("--annotations")) {
    const std::string folder = arguments.Text("--annotations");
    if (!system::IsDirectory(folder))
      return ReportError("--annotations " + folder + ": no such folder");
    options.annotationsFolder = system::ResolvedPath(folder);
  }
  serve::SlideCatalog catalog;
  for (const std::string& entry : arguments.positional()) {
    if (!catalog.Add(entry, &error)) return ReportError(error);
  }
  serve::StaticFiles files;
  if (!files.Load(serve::DefaultWebRoot(), &error)) return ReportError(error);

  // Signals are held before any thread starts, so that only the wait below
  // receives them and the server can finish its requests.
  system::HoldStopSignals();
  serve::SlideServer server(std::move(catalog), std::move(files), options);
  if (!server.Bind(&error)) return ReportError(error);
  std::printf("strata serve: http://%s:%d/\n", options.bind.c_str(), server.port());
  std::fflush(stdout);
  std::atomic<bool> served{true};
  std::atomic<bool> finished{false};
  std::thread listening([&] {
    served = server.Run();
    finished = true;
    if (!served) system::RaiseStopSignal();
  });
  system::WaitForStopSignal();
  // A stop that comes before the server is listening is not seen by it.
  while (!finished) {
    server.Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  listening.join();
  if (!served) return ReportError("the server stopped on an error");
  std::printf("strata serve: stopped\n");
  return 0;
}

}  // namespace

std::vector<Command> ServeCommands() {
  return {
      {"serve",
       "[--bind 127.0.0.1] [--port 8080] [--threads N] [--cache-mb M] [--log] "
       "[--annotations DIR] [--read-only] PATH...",
       "serve slides (files, folders of slides, http:// URLs of ZTX slides) to the browser: "
       "viewer, annotations, Deep Zoom tiles, regions",
       -1,
       {"--bind", "--port", "--threads", "--cache-mb", "--annotations"},
       {"--log", "--read-only"},
       {},
       "PATH is a slide file of any format the library opens, a folder of them (listed without "
       "opening each), or an http:// URL of a ZTX slide. Annotations are GeoJSON files beside "
       "each slide, or in --annotations DIR; --read-only refuses to save them. The server "
       "listens on loopback unless --bind says otherwise, and fails at once when its port is "
       "taken. Ctrl-C stops it after the requests in flight.",
       RunServe},
  };
}

}  // namespace strata::tools
