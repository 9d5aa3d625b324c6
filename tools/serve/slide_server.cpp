#include "tools/serve/slide_server.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "strata/slide/system.h"
#include "tools/serve/bounded_task_queue.h"
#include "tools/serve/geojson_check.h"
#include "tools/serve/web_pages.h"

namespace strata::tools::serve {
namespace {

constexpr std::size_t kMaxUrlLength = 2048;
constexpr int kMaxRegionSide = 4096;
constexpr std::size_t kQueuedConnectionsPerThread = 4;
// Requests other than a save of annotations carry no body worth reading.
constexpr std::size_t kMaxOtherBodyBytes = 64 * 1024;
constexpr std::size_t kDecodedTileCacheBytes = 64u << 20;
constexpr const char* kAnnotationsPart = "annotations.geojson";
constexpr const char* kNoAnnotations = "{\"type\": \"FeatureCollection\", \"features\": []}\n";
constexpr const char* kTileCaching = "public, max-age=86400";
constexpr const char* kImageCaching = "public, max-age=3600";
constexpr const char* kPageCaching = "no-cache";

void SendText(httplib::Response& response, int status, const std::string& text) {
  response.status = status;
  response.set_content(text + "\n", "text/plain; charset=utf-8");
}

// True when the request's If-None-Match names this entity tag.
bool ClientHasIt(const httplib::Request& request, const std::string& etag) {
  if (!request.has_header("If-None-Match")) return false;
  const std::string wanted = request.get_header_value("If-None-Match");
  if (wanted == "*") return true;
  std::size_t start = 0;
  while (start < wanted.size()) {
    std::size_t end = wanted.find(',', start);
    if (end == std::string::npos) end = wanted.size();
    std::string tag = wanted.substr(start, end - start);
    tag.erase(0, tag.find_first_not_of(" \t"));
    tag.erase(tag.find_last_not_of(" \t") + 1);
    if (tag.rfind("W/", 0) == 0) tag.erase(0, 2);
    if (tag == etag) return true;
    start = end + 1;
  }
  return false;
}

void SendEntity(const httplib::Request& request, httplib::Response& response,
                const std::string& bytes, const std::string& contentType,
                const std::string& caching, const std::string& etag) {
  response.set_header("ETag", etag);
  response.set_header("Cache-Control", caching);
  if (ClientHasIt(request, etag)) {
    response.status = 304;
    return;
  }
  response.status = 200;
  response.set_content(bytes, contentType);
}

void SendEntity(const httplib::Request& request, httplib::Response& response,
                const std::string& bytes, const std::string& contentType,
                const std::string& caching) {
  SendEntity(request, response, bytes, contentType, caching, EntityTag(bytes));
}

// A whole number in [low, high] written as optional '-' and decimal digits.
bool ParseWhole(const std::string& text, long long low, long long high, long long* value) {
  const std::size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
  if (text.size() <= digits || text.size() > digits + 10) return false;
  for (std::size_t i = digits; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  *value = std::strtoll(text.c_str(), nullptr, 10);
  return *value >= low && *value <= high;
}

bool ParseScale(const std::string& text, float* scale) {
  if (text.empty() || text.size() > 24) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.') return false;
  }
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(value) || value <= 0 || value > 1e4) {
    return false;
  }
  *scale = static_cast<float>(value);
  return *scale > 0;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool HasEncodedSeparator(const std::string& target) {
  const std::string path = target.substr(0, target.find('?'));
  for (std::size_t at = path.find('%'); at != std::string::npos; at = path.find('%', at + 1)) {
    std::string code = path.substr(at + 1, 2);
    for (char& c : code) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (code == "2F" || code == "5C" || code == "00" || code == "2E") return true;
  }
  return false;
}

// The slide name of /slide/<name>/annotations.geojson, or "".
std::string AnnotatedSlide(const std::string& path) {
  const std::string prefix = "/slide/";
  const std::string suffix = std::string("/") + kAnnotationsPart;
  if (!StartsWith(path, prefix) || !EndsWith(path, suffix) ||
      path.size() <= prefix.size() + suffix.size()) {
    return "";
  }
  return path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
}

bool HasDotSegment(const std::string& path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string part = path.substr(start, end - start);
    if (part == "." || part == "..") return true;
    start = end + 1;
  }
  return false;
}

// Request texts come from the client: the log keeps them on one line,
// short, and without quotes that would break its fields.
std::string LogSafe(const std::string& text) {
  std::string safe = text.substr(0, 400);
  for (char& c : safe) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '"' || c == 0x7F) c = '?';
  }
  return safe;
}

}  // namespace

SlideServer::SlideServer(SlideCatalog catalog, StaticFiles files, const ServerOptions& options)
    : catalog_(std::move(catalog)),
      files_(std::move(files)),
      options_(options),
      server_(std::make_unique<httplib::Server>()),
      slides_(static_cast<std::size_t>(std::max(options.openSlides, 1))),
      tiles_(static_cast<std::size_t>(std::max(options.cacheMb, 0)) << 20),
      decodedTiles_(std::make_shared<TileCache>(kDecodedTileCacheBytes)),
      annotations_(options.annotationsFolder) {
  Configure();
}

SlideServer::~SlideServer() = default;

void SlideServer::Configure() {
  const std::size_t threads = static_cast<std::size_t>(std::max(options_.threads, 1));
  server_->new_task_queue = [threads] {
    return new BoundedTaskQueue(threads, threads * kQueuedConnectionsPerThread);
  };
  server_->set_keep_alive_max_count(10000);
  // Idle connections are dropped soon: each holds a worker, and a stop waits for them.
  server_->set_keep_alive_timeout(2);
  server_->set_read_timeout(10);
  server_->set_write_timeout(10);
  server_->set_payload_max_length(kMaxAnnotationBytes);
  server_->set_tcp_nodelay(true);
  // Never SO_REUSEPORT (the library's default): a second server on the
  // same port must fail rather than share the requests.
  server_->set_socket_options([](socket_t socket) { system::PrepareListeningSocket(socket); });
  server_->set_pre_routing_handler([this](const Request& request, Response& response) {
    return Refuse(request, response) ? httplib::Server::HandlerResponse::Handled
                                     : httplib::Server::HandlerResponse::Unhandled;
  });
  server_->Get(".*",
               [this](const Request& request, Response& response) { Route(request, response); });
  server_->Post(
      ".*", [this](const Request& request, Response& response) { RoutePost(request, response); });
  server_->set_exception_handler([](const Request&, Response& response, std::exception_ptr) {
    SendText(response, 500, "internal error");
  });
  if (options_.log) {
    server_->set_logger([this](const Request& request, const Response& response) {
      LogRequest(request, response);
    });
  }
}

bool SlideServer::Bind(std::string* error) {
  if (options_.port == 0) {
    port_ = server_->bind_to_any_port(options_.bind);
  } else if (server_->bind_to_port(options_.bind, options_.port)) {
    port_ = options_.port;
  } else {
    port_ = -1;
  }
  if (port_ <= 0) {
    const std::string reason = system::ListenFailure(options_.bind, options_.port);
    *error = "cannot listen on " + options_.bind + " port " + std::to_string(options_.port) +
             (reason.empty() ? "" : ": " + reason);
    return false;
  }
  return true;
}

bool SlideServer::Run() { return server_->listen_after_bind(); }

void SlideServer::Stop() { server_->stop(); }

void SlideServer::LogRequest(const Request& request, const Response& response) {
  std::lock_guard<std::mutex> hold(logMutex_);
  std::printf("%s \"%s %s %s\" %d %zu\n", LogSafe(request.remote_addr).c_str(),
              LogSafe(request.method).c_str(), LogSafe(request.target).c_str(),
              LogSafe(request.version).c_str(), response.status, response.body.size());
  std::fflush(stdout);
}

bool SlideServer::Refuse(const Request& request, Response& response) {
  if (request.target.size() > kMaxUrlLength) {
    SendText(response, 414, "URL too long");
    return true;
  }
  // Everything here runs before any body is read.
  if (HasEncodedSeparator(request.target) || HasDotSegment(request.path) ||
      request.path.find('\\') != std::string::npos ||
      request.path.find('\0') != std::string::npos ||
      request.path.find("//") != std::string::npos) {
    SendText(response, 403, "refused");
    return true;
  }
  const bool annotations = !AnnotatedSlide(request.path).empty();
  if (request.method == "POST" && annotations) return RefusePost(request, response);
  if (request.method != "GET" && request.method != "HEAD") {
    response.set_header("Allow", annotations ? "GET, HEAD, POST" : "GET, HEAD");
    SendText(response, 405, "method not allowed");
    return true;
  }
  if (request.has_header("Transfer-Encoding") ||
      request.get_header_value<std::uint64_t>("Content-Length") > kMaxOtherBodyBytes) {
    SendText(response, 413, "this request takes no body");
    return true;
  }
  return false;
}

bool SlideServer::RefusePost(const Request& request, Response& response) {
  if (options_.readOnly) {
    SendText(response, 403, "the server is read-only (--read-only): annotations are not saved");
    return true;
  }
  // Pages of other sites may post to a server on this machine; only this
  // server's own pages may save.
  const std::string origin = request.get_header_value("Origin");
  if ((!origin.empty() && origin != "http://" + request.get_header_value("Host")) ||
      request.get_header_value("Sec-Fetch-Site") == "cross-site") {
    SendText(response, 403, "refused: the request comes from another site");
    return true;
  }
  const std::string type = request.get_header_value("Content-Type");
  if (!StartsWith(type, "application/json") && !StartsWith(type, "application/geo+json")) {
    SendText(response, 415, "annotations are saved as application/geo+json");
    return true;
  }
  const std::string size =
      AnnotationSizeProblem(request.get_header_value<std::uint64_t>("Content-Length"));
  if (!size.empty()) {
    SendText(response, 413, "the annotations are " + size);
    return true;
  }
  return false;
}

void SlideServer::RoutePost(const Request& request, Response& response) {
  const std::string name = AnnotatedSlide(request.path);
  if (name.empty()) return SendText(response, 404, "not found");
  SaveAnnotations(name, request, response);
}

void SlideServer::Route(const Request& request, Response& response) {
  const std::string& path = request.path;
  if (path == "/" || path == "/index.html") return ServeList(request, response);
  if (StartsWith(path, "/static/")) return ServeStatic(path.substr(8), request, response);
  if (StartsWith(path, "/view/")) return ServeViewer(path.substr(6), request, response);
  if (StartsWith(path, "/slide/")) return ServeSlidePart(path.substr(7), request, response);
  if (StartsWith(path, "/dz/")) {
    const std::string rest = path.substr(4);
    if (EndsWith(rest, ".dzi")) {
      return ServeDescriptor(rest.substr(0, rest.size() - 4), request, response);
    }
    const std::size_t files = rest.rfind("_files/");
    if (files != std::string::npos) {
      return ServeTile(rest.substr(0, files), rest.substr(files + 7), request, response);
    }
  }
  SendText(response, 404, "not found");
}

std::shared_ptr<ServedSlide> SlideServer::FindSlide(const std::string& name, Response& response) {
  if (std::shared_ptr<ServedSlide> open = slides_.Find(name)) return open;
  std::string path;
  const Lookup lookup = catalog_.Resolve(name, &path);
  if (lookup == Lookup::kRefused) {
    SendText(response, 403, "refused");
    return nullptr;
  }
  if (lookup == Lookup::kUnknown) {
    SendText(response, 404, "no such slide");
    return nullptr;
  }
  // One opening at a time, so that concurrent first requests share it.
  std::lock_guard<std::mutex> hold(openMutex_);
  if (std::shared_ptr<ServedSlide> open = slides_.Find(name)) return open;
  std::unique_ptr<ServedSlide> opened;
  const Status status = ServedSlide::Open(path, decodedTiles_, &opened);
  if (!status.ok()) {
    // The reason without the path it starts with: the client knows the slide by name.
    std::string reason = status.message();
    if (StartsWith(reason, path + ": ")) reason.erase(0, path.size() + 2);
    SendText(response, 404, "the slide cannot be opened: " + reason);
    return nullptr;
  }
  std::shared_ptr<ServedSlide> shared(std::move(opened));
  slides_.Put(name, shared, 1);
  return shared;
}

void SlideServer::Neighbours(const std::string& name, std::string* previous,
                             std::string* next) const {
  const std::vector<std::string> names = catalog_.Names();
  const auto at = std::find(names.begin(), names.end(), name);
  if (at == names.end()) return;
  if (at != names.begin()) *previous = *std::prev(at);
  if (std::next(at) != names.end()) *next = *std::next(at);
}

SlideDescription SlideServer::Describe(const std::string& name, ServedSlide& slide) {
  SlideDescription description;
  description.name = name;
  description.facts = slide.facts();
  description.levels = slide.geometry().LevelCount();
  description.tileSize = slide.geometry().tileSize();
  description.hasLabel = slide.Image(AssociatedImage::kLabel) != nullptr;
  description.hasPreview = slide.Image(AssociatedImage::kPreview) != nullptr;
  description.hasThumbnail = true;  // composed when the slide has none
  return description;
}

// Names only: the page fetches each slide's facts as its row comes into
// view, so that a folder of hundreds of slides lists at once.
void SlideServer::ServeList(const Request& request, Response& response) {
  SendEntity(request, response, SlideListPage(catalog_.Names()), "text/html; charset=utf-8",
             kPageCaching);
}

void SlideServer::ServeStatic(const std::string& name, const Request& request, Response& response) {
  const StaticFile* file = files_.Find(name);
  if (file == nullptr) return SendText(response, 404, "not found");
  SendEntity(request, response, file->bytes, file->contentType, kImageCaching, file->etag);
}

void SlideServer::ServeViewer(const std::string& name, const Request& request, Response& response) {
  std::shared_ptr<ServedSlide> slide = FindSlide(name, response);
  if (slide == nullptr) return;
  ViewerLinks links;
  Neighbours(name, &links.previous, &links.next);
  links.readOnly = options_.readOnly;
  SendEntity(request, response, ViewerPage(Describe(name, *slide), links),
             "text/html; charset=utf-8", kPageCaching);
}

void SlideServer::ServeDescriptor(const std::string& name, const Request& request,
                                  Response& response) {
  std::shared_ptr<ServedSlide> slide = FindSlide(name, response);
  if (slide == nullptr) return;
  SendEntity(request, response, slide->geometry().DescriptorXml("jpeg"),
             "application/xml; charset=utf-8", kImageCaching);
}

void SlideServer::ServeTile(const std::string& name, const std::string& tile,
                            const Request& request, Response& response) {
  // <level>/<column>_<row>.jpeg
  const std::size_t slash = tile.find('/');
  const std::size_t underscore = tile.find('_', slash == std::string::npos ? 0 : slash);
  long long level = 0, column = 0, row = 0;
  if (slash == std::string::npos || underscore == std::string::npos || !EndsWith(tile, ".jpeg") ||
      !ParseWhole(tile.substr(0, slash), 0, 63, &level) ||
      !ParseWhole(tile.substr(slash + 1, underscore - slash - 1), 0, 1LL << 31, &column) ||
      !ParseWhole(tile.substr(underscore + 1, tile.size() - 5 - underscore - 1), 0, 1LL << 31,
                  &row)) {
    return SendText(response, 400, "malformed tile address");
  }
  std::shared_ptr<ServedSlide> slide = FindSlide(name, response);
  if (slide == nullptr) return;
  PixelRect rect;
  if (!slide->geometry().TileRect(static_cast<int>(level), column, row, &rect)) {
    return SendText(response, 404, "no such tile");
  }
  Bytes stored;
  if (slide->StoredTile(static_cast<int>(level), rect, &stored)) {
    return SendEntity(request, response, stored, "image/jpeg", kTileCaching);
  }
  const std::string key = name + "\n" + tile;
  std::shared_ptr<const Bytes> composed = tiles_.Find(key);
  if (composed == nullptr) {
    auto made = std::make_shared<Bytes>();
    if (!slide->ComposedTile(static_cast<int>(level), rect, made.get())) {
      return SendText(response, 500, "the tile cannot be made");
    }
    tiles_.Put(key, made, made->size() + key.size());
    composed = made;
  }
  SendEntity(request, response, *composed, "image/jpeg", kTileCaching);
}

void SlideServer::ServeSlidePart(const std::string& rest, const Request& request,
                                 Response& response) {
  const std::size_t slash = rest.rfind('/');
  if (slash == std::string::npos) return SendText(response, 404, "not found");
  const std::string name = rest.substr(0, slash);
  const std::string part = rest.substr(slash + 1);
  if (part == "info.json") return ServeInfo(name, request, response);
  if (part == "region") return ServeRegion(name, request, response);
  if (part == kAnnotationsPart) return ServeAnnotations(name, request, response);
  if (part == "label.jpg") return ServeImage(name, AssociatedImage::kLabel, request, response);
  if (part == "preview.jpg") return ServeImage(name, AssociatedImage::kPreview, request, response);
  if (part == "thumbnail.jpg") {
    return ServeImage(name, AssociatedImage::kThumbnail, request, response);
  }
  SendText(response, 404, "not found");
}

void SlideServer::ServeInfo(const std::string& name, const Request& request, Response& response) {
  std::shared_ptr<ServedSlide> slide = FindSlide(name, response);
  if (slide == nullptr) return;
  SendEntity(request, response, InfoJson(Describe(name, *slide)), "application/json; charset=utf-8",
             kPageCaching);
}

void SlideServer::ServeImage(const std::string& name, AssociatedImage which, const Request& request,
                             Response& response) {
  std::shared_ptr<ServedSlide> slide = FindSlide(name, response);
  if (slide == nullptr) return;
  std::shared_ptr<const Bytes> image = slide->Image(which);
  if (image != nullptr) return SendEntity(request, response, *image, "image/jpeg", kImageCaching);
  if (which != AssociatedImage::kThumbnail) return SendText(response, 404, "the slide has none");
  // No stored thumbnail: the Deep Zoom level that fits one tile stands in.
  const DeepZoomGeometry& geometry = slide->geometry();
  int level = geometry.LevelCount() - 1;
  while (level > 0 && (geometry.Columns(level) > 1 || geometry.Rows(level) > 1)) --level;
  PixelRect rect;
  Bytes composed;
  if (!geometry.TileRect(level, 0, 0, &rect) || !slide->ComposedTile(level, rect, &composed)) {
    return SendText(response, 404, "the slide has none");
  }
  SendEntity(request, response, composed, "image/jpeg", kImageCaching);
}

void SlideServer::ServeRegion(const std::string& name, const Request& request, Response& response) {
  const char* required[] = {"x", "y", "w", "h"};
  long long values[4] = {};
  for (int i = 0; i < 4; ++i) {
    const long long low = i < 2 ? -(1LL << 30) : 1;
    if (!request.has_param(required[i]) ||
        !ParseWhole(request.get_param_value(required[i]), low, 1LL << 30, &values[i])) {
      return SendText(response, 400, std::string("missing or malformed ") + required[i]);
    }
  }
  if (values[2] > kMaxRegionSide || values[3] > kMaxRegionSide) {
    return SendText(response, 400,
                    "regions are at most " + std::to_string(kMaxRegionSide) + " pixels a side");
  }
  const std::string format =
      request.has_param("format") ? request.get_param_value("format") : "jpeg";
  if (format != "jpeg" && format != "jpg" && format != "png") {
    return SendText(response, 400, "format must be jpeg or png");
  }
  float scale = 0;
  if (request.has_param("scale") && !ParseScale(request.get_param_value("scale"), &scale)) {
    return SendText(response, 400, "malformed scale");
  }
  std::shared_ptr<ServedSlide> slide = FindSlide(name, response);
  if (slide == nullptr) return;
  const double at = scale > 0 ? scale : slide->BaseScale();
  const int width = static_cast<int>(values[2]);
  const int height = static_cast<int>(values[3]);
  if (!slide->RegionOverlaps(at, values[0], values[1], width, height)) {
    return SendText(response, 404, "the region lies outside the slide");
  }
  Bytes bytes;
  const bool png = format == "png";
  if (!slide->Region(at, values[0], values[1], width, height, png, &bytes)) {
    return SendText(response, 500, "the region cannot be made");
  }
  SendEntity(request, response, bytes, png ? "image/png" : "image/jpeg", kImageCaching);
}

}  // namespace strata::tools::serve

namespace strata::tools::serve {

void SlideServer::ServeAnnotations(const std::string& name, const Request& request,
                                   Response& response) {
  std::string path;
  const Lookup lookup = catalog_.Resolve(name, &path);
  if (lookup != Lookup::kFound) {
    return SendText(response, lookup == Lookup::kRefused ? 403 : 404,
                    lookup == Lookup::kRefused ? "refused" : "no such slide");
  }
  const AnnotationResult read = annotations_.Load(name, path);
  switch (read.kind) {
    case AnnotationResult::Kind::kDone:
      return SendEntity(request, response, read.text, "application/geo+json", kPageCaching);
    case AnnotationResult::Kind::kNone:
      // None yet is an empty collection: the page has nothing to report.
      return SendEntity(request, response, kNoAnnotations, "application/geo+json", kPageCaching);
    default: return SendText(response, 422, read.text);
  }
}

void SlideServer::SaveAnnotations(const std::string& name, const Request& request,
                                  Response& response) {
  std::string path;
  const Lookup lookup = catalog_.Resolve(name, &path);
  if (lookup != Lookup::kFound) {
    return SendText(response, lookup == Lookup::kRefused ? 403 : 404,
                    lookup == Lookup::kRefused ? "refused" : "no such slide");
  }
  const std::string problem = CheckFeatureCollection(request.body);
  if (!problem.empty()) return SendText(response, 400, "not saved: " + problem);
  const AnnotationResult saved = annotations_.Save(name, path, request.body);
  switch (saved.kind) {
    case AnnotationResult::Kind::kDone:
      response.status = 200;
      return response.set_content(SavedJson(saved.file), "application/json; charset=utf-8");
    case AnnotationResult::Kind::kNowhere:
      return SendText(response, 403, "not saved: " + saved.text);
    case AnnotationResult::Kind::kWouldReplace:
      return SendText(response, 409, "not saved: " + saved.text);
    default: return SendText(response, 500, "not saved: " + saved.text);
  }
}

}  // namespace strata::tools::serve
