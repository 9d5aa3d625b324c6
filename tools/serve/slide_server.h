// The HTTP side of `strata serve`: routes, header rules, refusals, caches.
//
//   /                                   the slide list
//   /view/<slide>                       the viewer page
//   /dz/<slide>.dzi                     Deep Zoom descriptor
//   /dz/<slide>_files/<level>/<col>_<row>.jpeg
//   /slide/<slide>/info.json            the slide's facts
//   /slide/<slide>/{label,preview,thumbnail}.jpg
//   /slide/<slide>/region?x=&y=&w=&h=[&scale=][&format=jpeg|png]
//   /slide/<slide>/annotations.geojson  the slide's annotations (GET, and
//                                       POST to save them: annotation_store.h)
//   /static/...                         the pages' scripts and images
//
// GET and HEAD only (405 otherwise), and POST of annotations as JSON from
// pages of this server (415 for another type, 403 from another origin or
// on a read-only server); 400 for malformed numbers, 403 for names that try
// to leave the served slides, 404 for unknown slides and tiles outside their
// level, 413 for bodies over the limit, 414 for over-long URLs, 422 for
// annotations the viewer cannot read. Every 200 of a GET carries an ETag
// and answers a matching If-None-Match with 304.
#ifndef STRATA_TOOLS_SERVE_SLIDE_SERVER_H_
#define STRATA_TOOLS_SERVE_SLIDE_SERVER_H_

#include <memory>
#include <mutex>
#include <string>

#include "tools/serve/annotation_store.h"
#include "tools/serve/lru_cache.h"
#include "tools/serve/served_slide.h"
#include "tools/serve/slide_catalog.h"
#include "tools/serve/static_files.h"
#include "tools/serve/web_pages.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace strata::tools::serve {

struct ServerOptions {
  std::string bind = "127.0.0.1";
  int port = 8080;  // 0 picks a free port
  int threads = 16;
  int cacheMb = 256;
  int openSlides = 16;
  bool log = false;
  bool readOnly = false;          // refuse to save annotations
  std::string annotationsFolder;  // --annotations, "" for beside the slides
};

class SlideServer {
 public:
  SlideServer(SlideCatalog catalog, StaticFiles files, const ServerOptions& options);
  ~SlideServer();
  SlideServer(const SlideServer&) = delete;
  SlideServer& operator=(const SlideServer&) = delete;

  // Binds the listening socket; false with *error when it cannot.
  bool Bind(std::string* error);
  int port() const { return port_; }
  // Serves until Stop; false when listening failed.
  bool Run();
  // Stops accepting, finishes the requests under way and lets Run return.
  void Stop();

 private:
  using Request = httplib::Request;
  using Response = httplib::Response;

  void Configure();
  bool Refuse(const Request& request, Response& response);
  bool RefusePost(const Request& request, Response& response);
  void Route(const Request& request, Response& response);
  void RoutePost(const Request& request, Response& response);
  void ServeList(const Request& request, Response& response);
  void ServeStatic(const std::string& name, const Request& request, Response& response);
  void ServeViewer(const std::string& name, const Request& request, Response& response);
  void ServeDescriptor(const std::string& name, const Request& request, Response& response);
  void ServeTile(const std::string& name, const std::string& tile, const Request& request,
                 Response& response);
  void ServeSlidePart(const std::string& rest, const Request& request, Response& response);
  void ServeImage(const std::string& name, AssociatedImage which, const Request& request,
                  Response& response);
  void ServeRegion(const std::string& name, const Request& request, Response& response);
  void ServeInfo(const std::string& name, const Request& request, Response& response);
  void ServeAnnotations(const std::string& name, const Request& request, Response& response);
  void SaveAnnotations(const std::string& name, const Request& request, Response& response);

  // The open slide of that name; on failure sets the error response.
  std::shared_ptr<ServedSlide> FindSlide(const std::string& name, Response& response);
  SlideDescription Describe(const std::string& name, ServedSlide& slide);
  // The names before and after `name` in the list; "" at its ends.
  void Neighbours(const std::string& name, std::string* previous, std::string* next) const;
  void LogRequest(const Request& request, const Response& response);

  SlideCatalog catalog_;
  StaticFiles files_;
  ServerOptions options_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  LruCache<ServedSlide> slides_;
  LruCache<const Bytes> tiles_;
  // Decoded stored tiles, shared by the open slides.
  std::shared_ptr<TileCache> decodedTiles_;
  AnnotationStore annotations_;
  std::mutex openMutex_;
  std::mutex logMutex_;
};

}  // namespace strata::tools::serve

#endif  // STRATA_TOOLS_SERVE_SLIDE_SERVER_H_
