#pragma once
// The engine behind a handle of the engine library: a libclamav engine together
// with the limits it currently scans with.

#include <cstdint>
#include <functional>
#include <vector>
#include <shared_mutex>

#include "bridge/ClamTypes.h"
#include "bridge/LegacyOptions.h"
#include "bridge/korbu_clam.h"

namespace korbu::bridge {

using clam::cl_engine;
using clam::cl_error_t;

/// What one scan learns besides its verdict. Its address is the scan's context,
/// which libclamav hands to the engine's inspection callback for every layer.
struct ScanNotes {
  long long maxFileSize = 0;  // the size limit the scan runs with; 0 for none
  bool cutShort = false;      // a file extracted by the scan was cut to that limit
  int layers = 0;             // layers libclamav inspected, the file itself included
  bool htmlParsed = false;    // the scan's options parse HTML
  std::uint32_t topFacts = 0; // the KORBU_FACT_ its type at the top would give
};

class Engine {
 public:
  using ScanFunction = std::function<cl_error_t(const cl_engine&, ScanNotes&)>;

  /// Loads the databases of a folder (or one database file) into a new engine;
  /// null on failure, with the result code in status.
  static Engine* Load(const char* path, bool folder, std::uint32_t& signatures, cl_error_t& status);
  /// Loads the databases of an official folder as the signature provider's own,
  /// then those of a local folder, into one new engine; either may be null.
  static Engine* LoadFolders(const char* official, const char* local, std::uint32_t& signatures,
                             cl_error_t& status);
  /// Loads each path (a folder or one database file) in turn into one new engine;
  /// failed receives the index of the path that failed, or count.
  static Engine* LoadPaths(const char* const* paths, std::uint32_t count, std::uint32_t& signatures,
                           cl_error_t& status, std::uint32_t& failed);

  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  ~Engine();

  /// Compiles the signatures; compiling a compiled engine again does nothing.
  cl_error_t Build();

  /// Where libclamav makes its temporary files and folders from now on; waits for
  /// running scans.
  cl_error_t SetTempFolder(const char* folder);

  /// Adds libclamav parse bits to every later scan and, when not 0, sets the most
  /// bytes one scan reads in all; waits for running scans.
  cl_error_t Widen(std::uint32_t parse, std::uint64_t maxScanSize);
  /// The parse bits Widen added; read inside a scan, where the lock is held.
  std::uint32_t AddedParse() const { return addedParse_; }

  /// Runs a scan with the engine set to the given limits. Scans with the same
  /// limits run side by side; a change of limits waits for running scans and
  /// holds the others off until it has been applied and its scan has run. A scan
  /// that found nothing but cut an extracted file short gives CL_EMAXSIZE: the
  /// file was not judged whole. facts, when given, receives the KORBU_FACT_ bits
  /// of the scan.
  cl_error_t Scan(const clam_limits* limits, const ScanFunction& scan, std::uint32_t* facts = nullptr);

 private:
  explicit Engine(cl_engine* engine);
  struct Source {
    const char* path;  // null or empty: none
    unsigned int options;
  };
  static Engine* LoadInto(const std::vector<Source>& sources, std::uint32_t& signatures, cl_error_t& status,
                          std::uint32_t* failed = nullptr);
  cl_error_t Apply(const EngineLimitValues& limits);
  cl_error_t Run(const ScanFunction& scan, std::uint32_t* facts);

  cl_engine* engine_;
  std::shared_mutex mutex_;
  bool compiled_ = false;
  EngineLimitValues defaults_;
  EngineLimitValues applied_;
  std::uint32_t addedParse_ = 0;
  bool factsKnown_;  // the library's scanner is the one the scan facts were read from
};

}  // namespace korbu::bridge
