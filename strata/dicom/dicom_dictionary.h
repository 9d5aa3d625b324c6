// The part of DICOM's vocabulary this reader knows: the tags it reads, the
// keywords and value representations of the attributes it reports as
// properties (and needs to parse implicit-VR data sets), and the transfer
// syntaxes with what each means for reading frames.
#ifndef STRATA_DICOM_DICOM_DICTIONARY_H_
#define STRATA_DICOM_DICOM_DICTIONARY_H_

#include <cstdint>
#include <string>

namespace strata::dicom {

// group << 16 | element
using Tag = std::uint32_t;

constexpr Tag MakeTag(std::uint16_t group, std::uint16_t element) {
  return static_cast<Tag>(group) << 16 | element;
}
constexpr std::uint16_t GroupOf(Tag tag) { return static_cast<std::uint16_t>(tag >> 16); }

namespace tags {
constexpr Tag kTransferSyntaxUid = MakeTag(0x0002, 0x0010);
constexpr Tag kMediaStorageSopClassUid = MakeTag(0x0002, 0x0002);
constexpr Tag kSpecificCharacterSet = MakeTag(0x0008, 0x0005);
constexpr Tag kImageType = MakeTag(0x0008, 0x0008);
constexpr Tag kSopClassUid = MakeTag(0x0008, 0x0016);
constexpr Tag kSopInstanceUid = MakeTag(0x0008, 0x0018);
constexpr Tag kAcquisitionDate = MakeTag(0x0008, 0x0022);
constexpr Tag kAcquisitionDateTime = MakeTag(0x0008, 0x002A);
constexpr Tag kAcquisitionTime = MakeTag(0x0008, 0x0032);
constexpr Tag kTimezoneOffsetFromUtc = MakeTag(0x0008, 0x0201);
constexpr Tag kSeriesInstanceUid = MakeTag(0x0020, 0x000E);
constexpr Tag kConcatenationUid = MakeTag(0x0020, 0x9161);
constexpr Tag kInConcatenationNumber = MakeTag(0x0020, 0x9162);
constexpr Tag kInConcatenationTotalNumber = MakeTag(0x0020, 0x9163);
constexpr Tag kConcatenationFrameOffsetNumber = MakeTag(0x0020, 0x9228);
constexpr Tag kDimensionOrganizationType = MakeTag(0x0020, 0x9311);
constexpr Tag kSamplesPerPixel = MakeTag(0x0028, 0x0002);
constexpr Tag kPhotometricInterpretation = MakeTag(0x0028, 0x0004);
constexpr Tag kPlanarConfiguration = MakeTag(0x0028, 0x0006);
constexpr Tag kNumberOfFrames = MakeTag(0x0028, 0x0008);
constexpr Tag kRows = MakeTag(0x0028, 0x0010);
constexpr Tag kColumns = MakeTag(0x0028, 0x0011);
constexpr Tag kPixelSpacing = MakeTag(0x0028, 0x0030);
constexpr Tag kBitsAllocated = MakeTag(0x0028, 0x0100);
constexpr Tag kBitsStored = MakeTag(0x0028, 0x0101);
constexpr Tag kPixelRepresentation = MakeTag(0x0028, 0x0103);
constexpr Tag kIccProfile = MakeTag(0x0028, 0x2000);
constexpr Tag kPixelMeasuresSequence = MakeTag(0x0028, 0x9110);
constexpr Tag kImagedVolumeWidth = MakeTag(0x0048, 0x0001);
constexpr Tag kImagedVolumeHeight = MakeTag(0x0048, 0x0002);
constexpr Tag kTotalPixelMatrixColumns = MakeTag(0x0048, 0x0006);
constexpr Tag kTotalPixelMatrixRows = MakeTag(0x0048, 0x0007);
constexpr Tag kOpticalPathSequence = MakeTag(0x0048, 0x0105);
constexpr Tag kObjectiveLensPower = MakeTag(0x0048, 0x0112);
constexpr Tag kPlanePositionSlideSequence = MakeTag(0x0048, 0x021A);
constexpr Tag kColumnPositionInTotalImagePixelMatrix = MakeTag(0x0048, 0x021E);
constexpr Tag kRowPositionInTotalImagePixelMatrix = MakeTag(0x0048, 0x021F);
constexpr Tag kNumberOfOpticalPaths = MakeTag(0x0048, 0x0302);
constexpr Tag kTotalPixelMatrixFocalPlanes = MakeTag(0x0048, 0x0303);
constexpr Tag kBarcodeValue = MakeTag(0x2200, 0x0005);
constexpr Tag kSharedFunctionalGroupsSequence = MakeTag(0x5200, 0x9229);
constexpr Tag kPerFrameFunctionalGroupsSequence = MakeTag(0x5200, 0x9230);
constexpr Tag kExtendedOffsetTable = MakeTag(0x7FE0, 0x0001);
constexpr Tag kExtendedOffsetTableLengths = MakeTag(0x7FE0, 0x0002);
constexpr Tag kPixelData = MakeTag(0x7FE0, 0x0010);
constexpr Tag kItem = MakeTag(0xFFFE, 0xE000);
constexpr Tag kItemDelimitation = MakeTag(0xFFFE, 0xE00D);
constexpr Tag kSequenceDelimitation = MakeTag(0xFFFE, 0xE0DD);
}  // namespace tags

constexpr const char* kWholeSlideSopClass = "1.2.840.10008.5.1.4.1.1.77.1.6";

// A value representation as its two letters packed ('O' << 8 | 'B').
using Vr = std::uint16_t;
constexpr Vr MakeVr(char first, char second) {
  return static_cast<Vr>(static_cast<unsigned char>(first) << 8 |
                         static_cast<unsigned char>(second));
}

// An attribute the reader knows by name.
struct Attribute {
  Tag tag;
  const char* vr;
  const char* keyword;
};

// The attribute with this tag, or null for tags the reader does not know
// (private ones among them).
const Attribute* FindAttribute(Tag tag);

// True for the representations whose explicit-VR header has a 4-byte length.
bool HasLongLength(Vr vr);

// What a transfer syntax means for this reader.
struct TransferSyntax {
  bool known = false;      // one of DICOM's own
  bool parseable = false;  // its data set is little endian and not deflated
  bool explicitVr = true;
  bool encapsulated = false;  // frames are compressed, one item sequence
  bool readable = false;      // frames this reader passes on or decodes
  std::string name;           // "JPEG baseline", "JPEG 2000", ...
};

TransferSyntax DescribeTransferSyntax(const std::string& uid);

// "1.2.840.10008.1.2.4.91 (JPEG 2000)", or the bare UID for unknown ones.
std::string TransferSyntaxText(const std::string& uid);

}  // namespace strata::dicom

#endif  // STRATA_DICOM_DICOM_DICTIONARY_H_
