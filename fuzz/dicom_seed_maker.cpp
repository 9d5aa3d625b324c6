// Writes the seed corpus of dicom_fuzzer: small whole-slide instances built
// byte by byte (JPEG frames with and without an offset table, uncompressed
// frames in explicit and implicit VR, tiles in order and by position).
// Usage: dicom_seed_maker OUTPUT_FOLDER (seeds land in OUTPUT_FOLDER/dicom)
#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"

namespace {

using Bytes = std::vector<unsigned char>;

void Put16(Bytes& out, unsigned value) {
  out.push_back(static_cast<unsigned char>(value));
  out.push_back(static_cast<unsigned char>(value >> 8));
}

void Put32(Bytes& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// Data set elements in explicit or implicit VR little endian.
class DataSetBytes {
 public:
  explicit DataSetBytes(bool explicitVr) : explicit_(explicitVr) {}

  DataSetBytes& Add(unsigned group, unsigned element, const char* vr, Bytes value) {
    if (value.size() % 2 != 0) value.push_back(vr[0] == 'U' && vr[1] == 'I' ? 0 : ' ');
    Header(group, element, vr, static_cast<std::uint32_t>(value.size()));
    bytes_.insert(bytes_.end(), value.begin(), value.end());
    return *this;
  }
  DataSetBytes& Text(unsigned group, unsigned element, const char* vr, const std::string& text) {
    return Add(group, element, vr, Bytes(text.begin(), text.end()));
  }
  DataSetBytes& Short(unsigned group, unsigned element, unsigned value) {
    Bytes bytes;
    Put16(bytes, value);
    return Add(group, element, "US", bytes);
  }
  DataSetBytes& Long(unsigned group, unsigned element, const char* vr, std::uint32_t value) {
    Bytes bytes;
    Put32(bytes, value);
    return Add(group, element, vr, bytes);
  }
  // A sequence of one item per data set, all of undefined length.
  DataSetBytes& Sequence(unsigned group, unsigned element, const std::vector<DataSetBytes>& items) {
    Header(group, element, "SQ", 0xFFFFFFFF);
    for (const DataSetBytes& item : items) {
      Put16(bytes_, 0xFFFE);
      Put16(bytes_, 0xE000);
      Put32(bytes_, 0xFFFFFFFF);
      bytes_.insert(bytes_.end(), item.bytes_.begin(), item.bytes_.end());
      Put16(bytes_, 0xFFFE);
      Put16(bytes_, 0xE00D);
      Put32(bytes_, 0);
    }
    Put16(bytes_, 0xFFFE);
    Put16(bytes_, 0xE0DD);
    Put32(bytes_, 0);
    return *this;
  }
  // Encapsulated frames: an offset table item (empty unless `table`), one
  // item a frame, the delimiter.
  DataSetBytes& Frames(const std::vector<Bytes>& frames, bool table) {
    Header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF);
    Put16(bytes_, 0xFFFE);
    Put16(bytes_, 0xE000);
    Put32(bytes_, table ? static_cast<std::uint32_t>(frames.size() * 4) : 0);
    std::uint32_t offset = 0;
    for (const Bytes& frame : frames) {
      if (table) Put32(bytes_, offset);
      offset += 8 + static_cast<std::uint32_t>(frame.size() + frame.size() % 2);
    }
    for (Bytes frame : frames) {
      if (frame.size() % 2 != 0) frame.push_back(0);
      Put16(bytes_, 0xFFFE);
      Put16(bytes_, 0xE000);
      Put32(bytes_, static_cast<std::uint32_t>(frame.size()));
      bytes_.insert(bytes_.end(), frame.begin(), frame.end());
    }
    Put16(bytes_, 0xFFFE);
    Put16(bytes_, 0xE0DD);
    Put32(bytes_, 0);
    return *this;
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  void Header(unsigned group, unsigned element, const char* vr, std::uint32_t length) {
    Put16(bytes_, group);
    Put16(bytes_, element);
    if (!explicit_) {
      Put32(bytes_, length);
      return;
    }
    bytes_.push_back(static_cast<unsigned char>(vr[0]));
    bytes_.push_back(static_cast<unsigned char>(vr[1]));
    const std::string longForms = "OBODOFOLOVOWSQSVUCUNURUTUV";
    bool isLong = false;
    for (std::size_t at = 0; at < longForms.size(); at += 2) {
      isLong = isLong || (longForms[at] == vr[0] && longForms[at + 1] == vr[1]);
    }
    if (isLong) {
      Put16(bytes_, 0);
      Put32(bytes_, length);
    } else {
      Put16(bytes_, length);
    }
  }

  bool explicit_;
  Bytes bytes_;
};

Bytes Jpeg(int size, int shade) {
  Bytes pixels(static_cast<std::size_t>(size) * size * 3);
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    pixels[i] = static_cast<unsigned char>(shade + i % 37);
  }
  unsigned char* stream = nullptr;
  int length = 0;
  if (!strata::EncodeJpegWithQuality(pixels.data(), size, size, 3, 50, &stream, length)) return {};
  Bytes bytes(stream, stream + length);
  strata::ReleaseBuffer(stream);
  return bytes;
}

// The preamble, the meta information and the data set.
Bytes DicomFile(const std::string& syntax, const DataSetBytes& body) {
  Bytes file(128, 0);
  for (const char c : std::string("DICM")) file.push_back(static_cast<unsigned char>(c));
  DataSetBytes meta(true);
  meta.Text(0x0002, 0x0002, "UI", "1.2.840.10008.5.1.4.1.1.77.1.6");
  meta.Text(0x0002, 0x0010, "UI", syntax);
  file.insert(file.end(), meta.bytes().begin(), meta.bytes().end());
  file.insert(file.end(), body.bytes().begin(), body.bytes().end());
  return file;
}

// The attributes every seed shares: a 32 x 16 image of 16 x 16 tiles.
DataSetBytes Image(bool explicitVr, const char* photometric, const char* organisation, int frames) {
  DataSetBytes data(explicitVr);
  DataSetBytes measures(explicitVr);
  measures.Text(0x0028, 0x0030, "DS", "0.00025\\0.00025");
  DataSetBytes shared(explicitVr);
  shared.Sequence(0x0028, 0x9110, {measures});
  DataSetBytes path(explicitVr);
  path.Add(0x0028, 0x2000, "OB", Bytes(128, 1)).Text(0x0048, 0x0112, "DS", "20");
  data.Text(0x0008, 0x0008, "CS", "ORIGINAL\\PRIMARY\\VOLUME\\NONE")
      .Text(0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.77.1.6")
      .Text(0x0008, 0x0018, "UI", "1.2.3.4.5")
      .Text(0x0008, 0x002A, "DT", "20240506071809+0200")
      .Text(0x0010, 0x0010, "PN", "Doe^Jane")
      .Text(0x0020, 0x000E, "UI", "1.2.3.4")
      .Text(0x0020, 0x9311, "CS", organisation)
      .Short(0x0028, 0x0002, 3)
      .Text(0x0028, 0x0004, "CS", photometric)
      .Text(0x0028, 0x0008, "IS", std::to_string(frames))
      .Short(0x0028, 0x0010, 16)
      .Short(0x0028, 0x0011, 16)
      .Short(0x0028, 0x0100, 8)
      .Short(0x0028, 0x0101, 8)
      .Long(0x0048, 0x0006, "UL", 32)
      .Long(0x0048, 0x0007, "UL", 16)
      .Sequence(0x0048, 0x0105, {path});
  if (std::string(organisation) == "TILED_SPARSE") {
    std::vector<DataSetBytes> perFrame;
    for (int frame = 0; frame < frames; ++frame) {
      DataSetBytes plane(explicitVr);
      plane.Long(0x0048, 0x021E, "SL", static_cast<std::uint32_t>(17 - frame * 16))
          .Long(0x0048, 0x021F, "SL", 1);
      DataSetBytes item(explicitVr);
      item.Sequence(0x0048, 0x021A, {plane});
      perFrame.push_back(item);
    }
    data.Sequence(0x5200, 0x9229, {shared}).Sequence(0x5200, 0x9230, perFrame);
  } else {
    data.Sequence(0x5200, 0x9229, {shared});
  }
  return data;
}

void Write(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string folder = std::string(argv[1]) + "/dicom";
  mkdir(argv[1], 0755);
  mkdir(folder.c_str(), 0755);
  const std::vector<Bytes> jpeg = {Jpeg(16, 40), Jpeg(16, 120)};
  const Bytes native(16 * 16 * 3 * 2, 90);
  const std::string jpegSyntax = "1.2.840.10008.1.2.4.50";
  for (const bool table : {true, false}) {
    DataSetBytes data = Image(true, "YBR_FULL_422", "TILED_FULL", 2);
    Write(folder + (table ? "/jpeg-table.dcm" : "/jpeg-fragments.dcm"),
          DicomFile(jpegSyntax, data.Frames(jpeg, table)));
  }
  DataSetBytes sparse = Image(true, "RGB", "TILED_SPARSE", 2);
  Write(folder + "/explicit-sparse.dcm",
        DicomFile("1.2.840.10008.1.2.1", sparse.Add(0x7FE0, 0x0010, "OB", native)));
  DataSetBytes implicit = Image(false, "RGB", "TILED_FULL", 2);
  Write(folder + "/implicit-full.dcm",
        DicomFile("1.2.840.10008.1.2", implicit.Add(0x7FE0, 0x0010, "OW", native)));
  return 0;
}
