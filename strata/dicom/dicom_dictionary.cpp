#include "strata/dicom/dicom_dictionary.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace strata::dicom {
namespace {

// Attributes of whole-slide instances and the modules around them, by tag
// (sorted: looked up by binary search).
constexpr Attribute kAttributes[] = {
    {0x00080005, "CS", "SpecificCharacterSet"},
    {0x00080008, "CS", "ImageType"},
    {0x00080012, "DA", "InstanceCreationDate"},
    {0x00080013, "TM", "InstanceCreationTime"},
    {0x00080014, "UI", "InstanceCreatorUID"},
    {0x00080016, "UI", "SOPClassUID"},
    {0x00080017, "UI", "AcquisitionUID"},
    {0x00080018, "UI", "SOPInstanceUID"},
    {0x00080019, "UI", "PyramidUID"},
    {0x00080020, "DA", "StudyDate"},
    {0x00080021, "DA", "SeriesDate"},
    {0x00080022, "DA", "AcquisitionDate"},
    {0x00080023, "DA", "ContentDate"},
    {0x0008002A, "DT", "AcquisitionDateTime"},
    {0x00080030, "TM", "StudyTime"},
    {0x00080031, "TM", "SeriesTime"},
    {0x00080032, "TM", "AcquisitionTime"},
    {0x00080033, "TM", "ContentTime"},
    {0x00080050, "SH", "AccessionNumber"},
    {0x00080060, "CS", "Modality"},
    {0x00080070, "LO", "Manufacturer"},
    {0x00080080, "LO", "InstitutionName"},
    {0x00080081, "ST", "InstitutionAddress"},
    {0x00080090, "PN", "ReferringPhysicianName"},
    {0x00080100, "SH", "CodeValue"},
    {0x00080102, "SH", "CodingSchemeDesignator"},
    {0x00080103, "SH", "CodingSchemeVersion"},
    {0x00080104, "LO", "CodeMeaning"},
    {0x0008010C, "UI", "CodingSchemeUID"},
    {0x00080110, "SQ", "CodingSchemeIdentificationSequence"},
    {0x00080112, "LO", "CodingSchemeRegistry"},
    {0x00080115, "ST", "CodingSchemeName"},
    {0x00080201, "SH", "TimezoneOffsetFromUTC"},
    {0x00081010, "SH", "StationName"},
    {0x00081030, "LO", "StudyDescription"},
    {0x0008103E, "LO", "SeriesDescription"},
    {0x00081040, "LO", "InstitutionalDepartmentName"},
    {0x00081090, "LO", "ManufacturerModelName"},
    {0x00081115, "SQ", "ReferencedSeriesSequence"},
    {0x00081140, "SQ", "ReferencedImageSequence"},
    {0x0008114A, "SQ", "ReferencedInstanceSequence"},
    {0x00081150, "UI", "ReferencedSOPClassUID"},
    {0x00081155, "UI", "ReferencedSOPInstanceUID"},
    {0x00081160, "IS", "ReferencedFrameNumber"},
    {0x00082111, "ST", "DerivationDescription"},
    {0x00082112, "SQ", "SourceImageSequence"},
    {0x00082218, "SQ", "AnatomicRegionSequence"},
    {0x00082228, "SQ", "PrimaryAnatomicStructureSequence"},
    {0x00089007, "CS", "FrameType"},
    {0x00089205, "CS", "PixelPresentation"},
    {0x00089206, "CS", "VolumetricProperties"},
    {0x00089207, "CS", "VolumeBasedCalculationTechnique"},
    {0x00100010, "PN", "PatientName"},
    {0x00100020, "LO", "PatientID"},
    {0x00100030, "DA", "PatientBirthDate"},
    {0x00100040, "CS", "PatientSex"},
    {0x00101010, "AS", "PatientAge"},
    {0x00104000, "LT", "PatientComments"},
    {0x00180050, "DS", "SliceThickness"},
    {0x00181000, "LO", "DeviceSerialNumber"},
    {0x00181020, "LO", "SoftwareVersions"},
    {0x00189004, "CS", "ContentQualification"},
    {0x0018A001, "SQ", "ContributingEquipmentSequence"},
    {0x0018A002, "DT", "ContributionDateTime"},
    {0x0018A003, "ST", "ContributionDescription"},
    {0x0020000D, "UI", "StudyInstanceUID"},
    {0x0020000E, "UI", "SeriesInstanceUID"},
    {0x00200010, "SH", "StudyID"},
    {0x00200011, "IS", "SeriesNumber"},
    {0x00200013, "IS", "InstanceNumber"},
    {0x00200020, "CS", "PatientOrientation"},
    {0x00200052, "UI", "FrameOfReferenceUID"},
    {0x00201040, "LO", "PositionReferenceIndicator"},
    {0x00204000, "LT", "ImageComments"},
    {0x00209111, "SQ", "FrameContentSequence"},
    {0x00209157, "UL", "DimensionIndexValues"},
    {0x00209161, "UI", "ConcatenationUID"},
    {0x00209162, "US", "InConcatenationNumber"},
    {0x00209163, "US", "InConcatenationTotalNumber"},
    {0x00209164, "UI", "DimensionOrganizationUID"},
    {0x00209165, "AT", "DimensionIndexPointer"},
    {0x00209167, "AT", "FunctionalGroupPointer"},
    {0x00209221, "SQ", "DimensionOrganizationSequence"},
    {0x00209222, "SQ", "DimensionIndexSequence"},
    {0x00209228, "UL", "ConcatenationFrameOffsetNumber"},
    {0x00209311, "CS", "DimensionOrganizationType"},
    {0x00209421, "LO", "DimensionDescriptionLabel"},
    {0x00220016, "SQ", "IlluminationTypeCodeSequence"},
    {0x00220019, "SQ", "LensesCodeSequence"},
    {0x00220055, "FL", "IlluminationWaveLength"},
    {0x00220056, "FL", "IlluminationPower"},
    {0x00280002, "US", "SamplesPerPixel"},
    {0x00280004, "CS", "PhotometricInterpretation"},
    {0x00280006, "US", "PlanarConfiguration"},
    {0x00280008, "IS", "NumberOfFrames"},
    {0x00280010, "US", "Rows"},
    {0x00280011, "US", "Columns"},
    {0x00280030, "DS", "PixelSpacing"},
    {0x00280100, "US", "BitsAllocated"},
    {0x00280101, "US", "BitsStored"},
    {0x00280102, "US", "HighBit"},
    {0x00280103, "US", "PixelRepresentation"},
    {0x00280301, "CS", "BurnedInAnnotation"},
    {0x00280302, "CS", "RecognizableVisualFeatures"},
    {0x00282000, "OB", "ICCProfile"},
    {0x00282002, "CS", "ColorSpace"},
    {0x00282110, "CS", "LossyImageCompression"},
    {0x00282112, "DS", "LossyImageCompressionRatio"},
    {0x00282114, "CS", "LossyImageCompressionMethod"},
    {0x00289110, "SQ", "PixelMeasuresSequence"},
    {0x00400031, "UT", "LocalNamespaceEntityID"},
    {0x00400032, "UT", "UniversalEntityID"},
    {0x00400033, "CS", "UniversalEntityIDType"},
    {0x00400512, "LO", "ContainerIdentifier"},
    {0x00400513, "SQ", "IssuerOfTheContainerIdentifierSequence"},
    {0x00400515, "SQ", "AlternateContainerIdentifierSequence"},
    {0x00400518, "SQ", "ContainerTypeCodeSequence"},
    {0x0040051A, "LO", "ContainerDescription"},
    {0x00400520, "SQ", "ContainerComponentSequence"},
    {0x00400551, "LO", "SpecimenIdentifier"},
    {0x00400554, "UI", "SpecimenUID"},
    {0x00400555, "SQ", "AcquisitionContextSequence"},
    {0x00400560, "SQ", "SpecimenDescriptionSequence"},
    {0x00400562, "SQ", "IssuerOfTheSpecimenIdentifierSequence"},
    {0x00400600, "LO", "SpecimenShortDescription"},
    {0x00400602, "UT", "SpecimenDetailedDescription"},
    {0x00400610, "SQ", "SpecimenPreparationSequence"},
    {0x00400710, "SQ", "WholeSlideMicroscopyImageFrameTypeSequence"},
    {0x0040072A, "DS", "XOffsetInSlideCoordinateSystem"},
    {0x0040073A, "DS", "YOffsetInSlideCoordinateSystem"},
    {0x0040074A, "DS", "ZOffsetInSlideCoordinateSystem"},
    {0x0040A040, "CS", "ValueType"},
    {0x0040A043, "SQ", "ConceptNameCodeSequence"},
    {0x0040A120, "DT", "DateTime"},
    {0x0040A160, "UT", "TextValue"},
    {0x0040A168, "SQ", "ConceptCodeSequence"},
    {0x0040A170, "SQ", "PurposeOfReferenceCodeSequence"},
    {0x0040A30A, "DS", "NumericValue"},
    {0x00480001, "FL", "ImagedVolumeWidth"},
    {0x00480002, "FL", "ImagedVolumeHeight"},
    {0x00480003, "FL", "ImagedVolumeDepth"},
    {0x00480006, "UL", "TotalPixelMatrixColumns"},
    {0x00480007, "UL", "TotalPixelMatrixRows"},
    {0x00480008, "SQ", "TotalPixelMatrixOriginSequence"},
    {0x00480010, "CS", "SpecimenLabelInImage"},
    {0x00480011, "CS", "FocusMethod"},
    {0x00480012, "CS", "ExtendedDepthOfField"},
    {0x00480013, "US", "NumberOfFocalPlanes"},
    {0x00480014, "FL", "DistanceBetweenFocalPlanes"},
    {0x00480015, "US", "RecommendedAbsentPixelCIELabValue"},
    {0x00480100, "SQ", "IlluminatorTypeCodeSequence"},
    {0x00480102, "DS", "ImageOrientationSlide"},
    {0x00480105, "SQ", "OpticalPathSequence"},
    {0x00480106, "SH", "OpticalPathIdentifier"},
    {0x00480107, "ST", "OpticalPathDescription"},
    {0x00480108, "SQ", "IlluminationColorCodeSequence"},
    {0x00480110, "SQ", "SpecimenReferenceSequence"},
    {0x00480111, "DS", "CondenserLensPower"},
    {0x00480112, "DS", "ObjectiveLensPower"},
    {0x00480113, "DS", "ObjectiveLensNumericalAperture"},
    {0x00480120, "SQ", "PaletteColorLookupTableSequence"},
    {0x00480207, "SQ", "OpticalPathIdentificationSequence"},
    {0x0048021A, "SQ", "PlanePositionSlideSequence"},
    {0x0048021E, "SL", "ColumnPositionInTotalImagePixelMatrix"},
    {0x0048021F, "SL", "RowPositionInTotalImagePixelMatrix"},
    {0x00480301, "CS", "PixelOriginInterpretation"},
    {0x00480302, "UL", "NumberOfOpticalPaths"},
    {0x00480303, "UL", "TotalPixelMatrixFocalPlanes"},
    {0x22000005, "LT", "BarcodeValue"},
    {0x52009229, "SQ", "SharedFunctionalGroupsSequence"},
    {0x52009230, "SQ", "PerFrameFunctionalGroupsSequence"},
    {0x7FE00001, "OV", "ExtendedOffsetTable"},
    {0x7FE00002, "OV", "ExtendedOffsetTableLengths"},
    {0x7FE00010, "OB", "PixelData"},
};

struct SyntaxEntry {
  const char* uid;
  const char* name;
  bool parseable;
  bool explicitVr;
  bool encapsulated;
  bool readable;
};

constexpr SyntaxEntry kSyntaxes[] = {
    {"1.2.840.10008.1.2", "implicit VR little endian", true, false, false, true},
    {"1.2.840.10008.1.2.1", "explicit VR little endian", true, true, false, true},
    {"1.2.840.10008.1.2.1.99", "deflated explicit VR little endian", false, true, false, false},
    {"1.2.840.10008.1.2.2", "explicit VR big endian", false, true, false, false},
    {"1.2.840.10008.1.2.4.50", "JPEG baseline", true, true, true, true},
    {"1.2.840.10008.1.2.4.51", "JPEG extended", true, true, true, false},
    {"1.2.840.10008.1.2.4.57", "JPEG lossless", true, true, true, false},
    {"1.2.840.10008.1.2.4.70", "JPEG lossless, first-order prediction", true, true, true, false},
    {"1.2.840.10008.1.2.4.80", "JPEG-LS lossless", true, true, true, false},
    {"1.2.840.10008.1.2.4.81", "JPEG-LS near-lossless", true, true, true, false},
    {"1.2.840.10008.1.2.4.90", "JPEG 2000 lossless", true, true, true, false},
    {"1.2.840.10008.1.2.4.91", "JPEG 2000", true, true, true, false},
    {"1.2.840.10008.1.2.4.201", "HTJ2K lossless", true, true, true, false},
    {"1.2.840.10008.1.2.4.202", "HTJ2K lossless RPCL", true, true, true, false},
    {"1.2.840.10008.1.2.4.203", "HTJ2K", true, true, true, false},
    {"1.2.840.10008.1.2.5", "RLE lossless", true, true, true, false},
};

// Other compressed syntaxes of DICOM share this prefix.
constexpr const char* kCompressedPrefix = "1.2.840.10008.1.2.4.";

}  // namespace

const Attribute* FindAttribute(Tag tag) {
  const Attribute* end = std::end(kAttributes);
  const Attribute* found = std::lower_bound(
      std::begin(kAttributes), end, tag,
      [](const Attribute& attribute, Tag wanted) { return attribute.tag < wanted; });
  return found != end && found->tag == tag ? found : nullptr;
}

bool HasLongLength(Vr vr) {
  switch (vr) {
    case MakeVr('O', 'B'):
    case MakeVr('O', 'D'):
    case MakeVr('O', 'F'):
    case MakeVr('O', 'L'):
    case MakeVr('O', 'V'):
    case MakeVr('O', 'W'):
    case MakeVr('S', 'Q'):
    case MakeVr('S', 'V'):
    case MakeVr('U', 'C'):
    case MakeVr('U', 'N'):
    case MakeVr('U', 'R'):
    case MakeVr('U', 'T'):
    case MakeVr('U', 'V'): return true;
    default: return false;
  }
}

TransferSyntax DescribeTransferSyntax(const std::string& uid) {
  TransferSyntax syntax;
  for (const SyntaxEntry& entry : kSyntaxes) {
    if (uid == entry.uid) {
      syntax.known = true;
      syntax.parseable = entry.parseable;
      syntax.explicitVr = entry.explicitVr;
      syntax.encapsulated = entry.encapsulated;
      syntax.readable = entry.readable;
      syntax.name = entry.name;
      return syntax;
    }
  }
  // Newer compressed syntaxes: encapsulated frames in an explicit little
  // endian data set, which can still be read for what it says.
  if (uid.compare(0, std::strlen(kCompressedPrefix), kCompressedPrefix) == 0) {
    syntax.known = true;
    syntax.parseable = true;
    syntax.encapsulated = true;
    syntax.name = "compressed";
  }
  return syntax;
}

std::string TransferSyntaxText(const std::string& uid) {
  const TransferSyntax syntax = DescribeTransferSyntax(uid);
  if (syntax.name.empty()) return uid;
  return uid + " (" + syntax.name + ")";
}

}  // namespace strata::dicom
