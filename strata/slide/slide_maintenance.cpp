#include "strata/slide/slide_maintenance.h"

#include <memory>

#include "strata/platform/directory.h"
#include "strata/platform/file_io.h"
#include "strata/slide.h"
#include "strata/ztx/ztx_maintenance.h"

namespace strata::maintenance {
namespace {

bool EndsWithZtx(const std::string& path) {
  return path.size() >= 4 && path.compare(path.size() - 4, 4, ".ztx") == 0;
}

// What every rewrite needs: a local, writable ZTX slide that opens.
Status CheckRewritable(const std::string& path) {
  if (path.empty()) return Status::InvalidArgument("no slide named");
  if (path.rfind("http://", 0) == 0 || path.rfind("https://", 0) == 0) {
    return Status::Unsupported(path + ": a slide over HTTP cannot be rewritten");
  }
  if (platform::IsDirectory(path)) return Status::IsDirectory(path + " is a directory");
  if (!platform::FileExists(path)) return Status::NotFound(path + ": no such file");
  if (!EndsWithZtx(path)) {
    return Status::Unsupported(path + ": only ZTX slides (.ztx) are rewritten in place");
  }
  if (platform::IsReadOnlyFile(path)) return Status::IoError(path + " is read-only");
  std::unique_ptr<Slide> slide;
  return Slide::Open(path, &slide);
}

Status Refused(const std::string& path, const std::string& what, const std::string& why) {
  return Status::Unsupported(path + ": " + what + " (" + why + ")");
}

}  // namespace

Status ReplaceLabel(const std::string& slidePath, const std::string& labelPath) {
  const Status rewritable = CheckRewritable(slidePath);
  if (!rewritable.ok()) return rewritable;
  if (platform::IsDirectory(labelPath)) return Status::IsDirectory(labelPath + " is a directory");
  return ztx::ReplaceLabel(slidePath.c_str(), labelPath.c_str(), ztx::LabelBytes::kPicturesOnly);
}

Status CompressTileIndex(const std::string& slidePath) {
  const Status rewritable = CheckRewritable(slidePath);
  if (!rewritable.ok()) return rewritable;
  if (ztx::CompressTileIndex(slidePath.c_str())) return Status::Ok();
  return Refused(slidePath, "the tile index was not compressed",
                 "version 1.0 indexes stay plain, and a compressed index must be smaller");
}

Status ExpandTileIndex(const std::string& slidePath) {
  const Status rewritable = CheckRewritable(slidePath);
  if (!rewritable.ok()) return rewritable;
  if (ztx::ExpandTileIndex(slidePath.c_str())) return Status::Ok();
  return Refused(slidePath, "the tile index was not expanded",
                 "its compressed form does not check out");
}

}  // namespace strata::maintenance
