#include "strata/dicom/dicom_series.h"

#include <algorithm>
#include <set>
#include <utility>

#include "strata/dicom/dicom_parser.h"
#include "strata/platform/directory.h"

namespace strata::dicom {
namespace {

using Instances = std::vector<std::unique_ptr<DicomInstance>>;

bool IsUrl(const std::string& location) { return location.find("http://") != std::string::npos; }

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string InFolder(const std::string& folder, const std::string& name) {
  return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

// An instance that names a series but could not be read.
struct Failure {
  std::string seriesUid;
  Status status;
};

struct FolderScan {
  Instances instances;
  std::vector<Failure> failures;
};

// Every whole-slide instance directly inside `folder`, in name order,
// except the file whose resolved path is `skip`.
FolderScan ScanFolder(const std::string& folder, const std::string& skip) {
  FolderScan scan;
  for (const std::string& name : platform::DirectoryEntries(folder)) {
    const std::string path = InFolder(folder, name);
    if (!platform::IsRegularFile(path) || !IsDicomFile(path)) continue;
    if (!skip.empty() && platform::ResolvedPath(path) == skip) continue;
    std::unique_ptr<DicomInstance> instance;
    std::string seriesUid;
    const Status opened = DicomInstance::Open(path, &instance, &seriesUid);
    if (opened.ok()) {
      scan.instances.push_back(std::move(instance));
    } else if (!seriesUid.empty() && opened.code() != Status::Code::kUnsupportedFormat) {
      scan.failures.push_back(Failure{seriesUid, opened.Prefixed(name)});
    }
  }
  return scan;
}

// Moves the instances of `seriesUid` from the scan to `series`, once per
// SOPInstanceUID; a failed file of the series fails the whole.
Status TakeSeries(const std::string& seriesUid, FolderScan& scan, Instances* series) {
  for (const Failure& failure : scan.failures) {
    if (failure.seriesUid == seriesUid) {
      return failure.status.Prefixed("an instance of the series cannot be read");
    }
  }
  std::set<std::string> seen;
  for (const auto& instance : *series) seen.insert(instance->SopInstanceUid());
  for (auto& instance : scan.instances) {
    if (instance->SeriesUid() != seriesUid) continue;
    if (!seen.insert(instance->SopInstanceUid()).second) continue;
    series->push_back(std::move(instance));
  }
  return Status::Ok();
}

Status FromFolder(const std::string& folder, Instances* series) {
  FolderScan scan = ScanFolder(folder, "");
  std::vector<std::string> uids;
  for (const auto& instance : scan.instances) {
    if (std::find(uids.begin(), uids.end(), instance->SeriesUid()) == uids.end()) {
      uids.push_back(instance->SeriesUid());
    }
  }
  if (uids.empty()) {
    if (!scan.failures.empty()) return scan.failures.front().status;
    return Status::UnsupportedFormat("the folder holds no DICOM whole-slide image");
  }
  if (uids.size() > 1) {
    return Status::UnsupportedFormat("the folder holds " + std::to_string(uids.size()) +
                                     " DICOM whole-slide series; open one of their files");
  }
  return TakeSeries(uids.front(), scan, series);
}

}  // namespace

bool IsDicomFile(const std::string& location) {
  std::unique_ptr<CFileOperationTool> reader(CreateFileOperationTool(location.c_str()));
  if (reader == nullptr || !reader->Open(location.c_str())) return false;
  unsigned char head[kFileHeadBytes];
  std::size_t delivered = 0;
  const bool read = reader->ReadInto(0, sizeof head, head, delivered);
  reader->Close();
  return read && HasFileMarker(head, delivered);
}

bool IsWholeSlideFile(const std::string& location) {
  std::unique_ptr<CFileOperationTool> reader(CreateFileOperationTool(location.c_str()));
  if (reader == nullptr || !reader->Open(location.c_str())) return false;
  InstanceHeader header;
  const bool parsed = ParseFileMeta(*reader, &header).ok();
  reader->Close();
  return parsed && header.mediaStorageSopClassUid == kWholeSlideSopClass;
}

bool FolderHoldsWholeSlideFiles(const std::string& folder) {
  for (const std::string& name : platform::DirectoryEntries(folder)) {
    const std::string path = InFolder(folder, name);
    if (platform::IsRegularFile(path) && IsWholeSlideFile(path)) return true;
  }
  return false;
}

Status FindSeries(const std::string& location, Instances* series) {
  series->clear();
  if (!IsUrl(location) && platform::IsDirectory(location)) return FromFolder(location, series);
  std::unique_ptr<DicomInstance> given;
  const Status opened = DicomInstance::Open(location, &given);
  if (!opened.ok()) return opened;
  const std::string seriesUid = given->SeriesUid();
  series->push_back(std::move(given));
  if (IsUrl(location)) return Status::Ok();
  FolderScan scan = ScanFolder(FolderOf(location), platform::ResolvedPath(location));
  return TakeSeries(seriesUid, scan, series);
}

}  // namespace strata::dicom
