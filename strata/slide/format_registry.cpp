#include "strata/slide/format_registry.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "strata/dicom/dicom_data_file.h"
#include "strata/dicom/dicom_series.h"
#include "strata/dicom/dicom_slide_format.h"
#include "strata/foreign/bridge_data_file.h"
#include "strata/foreign/openslide_data_file.h"
#include "strata/foreign/openslide_slide_format.h"
#include "strata/foreign/unici_data_file.h"
#include "strata/model/byte_buffer.h"
#include "strata/model/data_file_slide_format.h"
#include "strata/model/failure_note.h"
#include "strata/model/file_operation_tool.h"
#include "strata/platform/directory.h"
#include "strata/platform/file_io.h"
#include "strata/tiff/tiff_slide.h"
#include "strata/ztx/ztx_data_file.h"
#include "strata/ztx/ztx_format.h"
#include "strata/ztx/ztx_slide_format.h"

namespace strata {
namespace {

template <typename Slide>
CDataFile* MakeSlide() {
  return new Slide();
}

template <typename Slide>
Status OpenThroughLibrary(const std::string& location, const char* name,
                          std::unique_ptr<SlideFormat>* format) {
  return OpenDataFileSlide(std::make_unique<Slide>(), location, name, format);
}

Status OpenMotic(const std::string& l, std::unique_ptr<SlideFormat>* f) {
  return OpenThroughLibrary<CMOTICDataFile>(l, "motic", f);
}
Status OpenDmetrix(const std::string& l, std::unique_ptr<SlideFormat>* f) {
  return OpenThroughLibrary<CDMETRIXDataFile>(l, "dmetrix", f);
}
Status OpenTmap(const std::string& l, std::unique_ptr<SlideFormat>* f) {
  return OpenThroughLibrary<CUNICIDataFile>(l, "tmap", f);
}

bool IsUrl(const std::string& location) { return location.find("http://") != std::string::npos; }

// SVS and pyramidal TIFF: natively when the native reader reads the file
// exactly as OpenSlide does, through OpenSlide otherwise (local files only).
Status OpenTiffSlide(const std::string& location, std::unique_ptr<SlideFormat>* format) {
  if (!tiff::NativeTiffEnabled()) return foreign::OpenOpenSlideSlide(location, format);
  std::unique_ptr<tiff::TiffSlide> native;
  const Status opened = tiff::TiffSlide::Open(location, &native);
  if (opened.ok()) {
    *format = std::move(native);
    return opened;
  }
  if (IsUrl(location)) return opened;
  const Status fallback = foreign::OpenOpenSlideSlide(location, format);
  if (fallback.ok()) return fallback;
  return Status(fallback.code(),
                fallback.message() + " (the native reader: " + opened.message() + ")");
}

// The order is the order of the name tests: the first entry whose text
// occurs in the path wins.
const FormatEntry kFormats[] = {
    {"ztx", {".ztx", ".ztxl", nullptr}, MakeSlide<CZTXDataFile>, ztx::OpenZtxSlide},
    {"hamamatsu", {".ndpi", ".vms", ".vmu"}, MakeSlide<CNDPIDataFile>, foreign::OpenOpenSlideSlide},
    {"aperio", {".svs", ".tif", nullptr}, MakeSlide<CSVSDataFile>, OpenTiffSlide},
    {"mirax", {".mrxs", nullptr, nullptr}, MakeSlide<CMIRAXDataFile>, foreign::OpenOpenSlideSlide},
    {"ventana", {".bif", nullptr, nullptr}, MakeSlide<CBIFDataFile>, foreign::OpenOpenSlideSlide},
    {"tmap", {".TMAP", nullptr, nullptr}, MakeSlide<CUNICIDataFile>, OpenTmap},
    {"motic", {".mds", nullptr, nullptr}, MakeSlide<CMOTICDataFile>, OpenMotic},
    {"dmetrix", {".dmetrix", nullptr, nullptr}, MakeSlide<CDMETRIXDataFile>, OpenDmetrix},
    {"dicom", {".dcm", nullptr, nullptr}, MakeSlide<CDicomDataFile>, dicom::OpenDicomSlide},
};

const FormatEntry& Entry(const char* format) {
  for (const FormatEntry& entry : kFormats) {
    if (std::strcmp(entry.format, format) == 0) return entry;
  }
  return kFormats[0];
}

// Up to `count` bytes from the start of the file or object.
std::vector<unsigned char> FirstBytes(const std::string& location, int count) {
  std::unique_ptr<CFileOperationTool> reader(CreateFileOperationTool(location.c_str()));
  std::vector<unsigned char> bytes;
  if (reader == nullptr || !reader->Open(location.c_str())) return bytes;
  bytes.resize(static_cast<std::size_t>(count));
  std::size_t delivered = 0;
  if (!reader->ReadInto(0, bytes.size(), bytes.data(), delivered)) delivered = 0;
  bytes.resize(delivered);
  reader->Close();
  return bytes;
}

bool IsZtx(const std::vector<unsigned char>& head) {
  if (head.size() < 4) return false;
  unsigned char marker[4] = {head[0], head[1], head[2], head[3]};
  ztx::NormaliseMarker(marker);
  const std::uint32_t value =
      static_cast<std::uint32_t>(marker[0]) | static_cast<std::uint32_t>(marker[1]) << 8 |
      static_cast<std::uint32_t>(marker[2]) << 16 | static_cast<std::uint32_t>(marker[3]) << 24;
  return value == ztx::kZtxMarker;
}

bool IsTiff(const std::vector<unsigned char>& head) {
  if (head.size() < 4) return false;
  const bool little =
      head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0;
  const bool big =
      head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43);
  return little || big;
}

bool IsDicom(const std::vector<unsigned char>& head) {
  return head.size() >= 132 && std::memcmp(head.data() + 128, "DICM", 4) == 0;
}

// The entry that reads a TIFF-based slide of the vendor OpenSlide names.
const FormatEntry* EntryForVendor(const std::string& vendor) {
  if (vendor.empty()) return nullptr;
  if (vendor == "hamamatsu") return &Entry("hamamatsu");
  if (vendor == "ventana") return &Entry("ventana");
  if (vendor == "mirax") return &Entry("mirax");
  return &Entry("aperio");
}

}  // namespace

const FormatEntry* FormatByName(const char* path) {
  if (path == nullptr) return nullptr;
  for (const FormatEntry& entry : kFormats) {
    for (const char* text : entry.names) {
      if (text != nullptr && std::strstr(path, text) != nullptr) return &entry;
    }
  }
  return nullptr;
}

const FormatEntry* FormatByContent(const std::string& location, std::string* format) {
  format->clear();
  const std::vector<unsigned char> head = FirstBytes(location, 132);
  if (IsZtx(head)) {
    *format = "ztx";
    return &Entry("ztx");
  }
  if (IsDicom(head)) {
    // Any DICOM file goes to its reader, which says why one is no slide.
    if (dicom::IsWholeSlideFile(location)) *format = "dicom";
    return &Entry("dicom");
  }
  if (IsTiff(head)) {
    std::unique_ptr<tiff::TiffSlide> native;
    if (tiff::NativeTiffEnabled() && tiff::TiffSlide::Open(location, &native).ok()) {
      *format = native->Description().facts.format;
      return &Entry("aperio");
    }
    // OpenSlide tells the vendor of TIFF-based slides it reads (local files).
    *format = foreign::OpenSlideVendorOf(location);
    return EntryForVendor(*format);
  }
  // Formats made of an index file beside a folder of data (MRXS, VMS) are
  // OpenSlide's to recognise.
  const std::string vendor = IsUrl(location) ? "" : foreign::OpenSlideVendorOf(location);
  if (vendor != "mirax" && vendor != "hamamatsu") return nullptr;
  *format = vendor;
  return EntryForVendor(vendor);
}

const FormatEntry* FormatForFolder(const std::string& folder) {
  return dicom::FolderHoldsWholeSlideFiles(folder) ? &Entry("dicom") : nullptr;
}

std::string FirstBytesText(const std::string& location) {
  const std::vector<unsigned char> head = FirstBytes(location, 8);
  return LeadingBytesText(head.data(), head.size());
}

Status CheckSlideLocation(const std::string& location) {
  if (location.empty()) return Status::InvalidArgument("the slide path is empty");
  if (location.find("http://") != std::string::npos) return Status::Ok();
  if (location.rfind("https://", 0) == 0) {
    return Status::Unsupported("https:// URLs cannot be read; the library reads http:// URLs");
  }
  if (platform::IsDirectory(location))
    return Status::IsDirectory("is a directory, not a slide file");
  if (!platform::FileExists(location)) return Status::NotFound("no such file");
  if (!platform::IsRegularFile(location)) return Status::UnsupportedFormat("is not a regular file");
  return Status::Ok();
}

Status NotASlide(const std::string& location) {
  return Status::UnsupportedFormat("not a slide: " + FirstBytesText(location));
}

Status PreferTransportFailure(const std::string& location, Status reason) {
  const Status noted = TakeNotedFailure(Status::Ok());
  const bool transport = noted.code() == Status::Code::kIoError &&
                         location.find("http://") != std::string::npos;
  return transport ? noted : reason;
}

}  // namespace strata
