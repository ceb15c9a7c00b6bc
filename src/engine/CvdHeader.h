#pragma once
// The header of a CVD signature database: a 512-byte text of fields separated by
// ':', the format tag first, then the build time and the version.

#include <string>

namespace korbu {

/// The two header fields the program shows. Both empty when the file is missing,
/// shorter than the header, or lacks the field.
struct CvdHeaderInfo {
  std::string version;  // the third field, whole
  std::string date;     // the first 11 characters of the build time: "22 Jun 2021"
};

/// Reads the header of a database file; never throws.
CvdHeaderInfo ReadCvdHeader(const std::string& path);

/// The fields of a header text; runs of ':' count as one separator.
CvdHeaderInfo ParseCvdHeader(const std::string& header);

}  // namespace korbu
