#include "bridge/Engine.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>
#include <string_view>
#include <system_error>

#include "bridge/ClamLibrary.h"
#include "platform/FileSystemPath.h"

namespace korbu::bridge {
namespace {

using namespace clam;

// Only reached once libclamav is bound and initialised.
const ClamFunctions& Lib() { return *Clam(); }

EngineLimitValues ReadLimits(const cl_engine* engine) {
  EngineLimitValues limits;
  limits.maxRecursion = Lib().engine_get_num(engine, CL_ENGINE_MAX_RECURSION, nullptr);
  limits.maxFiles = Lib().engine_get_num(engine, CL_ENGINE_MAX_FILES, nullptr);
  limits.maxFileSize = Lib().engine_get_num(engine, CL_ENGINE_MAX_FILESIZE, nullptr);
  return limits;
}

// Read from libclamav 1.4's scanner: a top-level file of these types from which
// no layer of its own was made is matched as its bytes lie and, where HTML is
// parsed, Unicode text also as the text its script normalizer makes of them;
// unless bytecode is loaded (which the caller knows), nothing else of it reaches a
// body or hash signature. Where HTML is parsed, ASCII text may be normalized as
// HTML within the same layer, so it gets no facts; nor does any type the scanner
// parses. A file over one scan buffer is matched in windows that overlap by the
// longest signature, which decides which of the embedded files they find the
// scanner keeps (ten at most): adding a signature may make it unpack one, so such
// a file gets no facts. Another version's scanner may differ: none either.
constexpr std::size_t kScanBuffer = 131072;

std::uint32_t FactsOfTopType(const char* type, std::size_t fileSize, bool htmlParsed) {
  if (type == nullptr || fileSize > kScanBuffer) return 0;
  const std::string_view name = type;
  if (name == "CL_TYPE_BINARY_DATA") return KORBU_FACT_MATCHED_AS_BYTES;
  if (name == "CL_TYPE_TEXT_ASCII") return htmlParsed ? 0 : KORBU_FACT_MATCHED_AS_BYTES;
  if (name == "CL_TYPE_TEXT_UTF8" || name == "CL_TYPE_TEXT_UTF16LE" || name == "CL_TYPE_TEXT_UTF16BE") {
    return htmlParsed ? KORBU_FACT_MATCHED_AS_TEXT : KORBU_FACT_MATCHED_AS_BYTES;
  }
  return 0;
}

bool FactsHoldForThisLibrary() {
  const char* version = Lib().retver();
  return version != nullptr && std::strncmp(version, "1.4.", 4) == 0;
}

// libclamav cuts a member that unpacks to more than the size limit (zip, cab, xar,
// InstallShield) to exactly that many bytes and scans only those, with no alert.
// A layer of exactly the limit below the top is taken for such a cut: at worst a
// member that happens to have that very size is reported as not judged whole.
extern "C" cl_error_t NoteLayer(int, const char* type, const char**, std::size_t, const char*, std::size_t fileSize,
                                const char*, std::uint32_t recursionLevel, std::uint32_t, void* context) {
  auto* notes = static_cast<ScanNotes*>(context);
  if (notes == nullptr) return CL_CLEAN;
  if (recursionLevel > 0 && notes->maxFileSize > 0 && fileSize == static_cast<std::size_t>(notes->maxFileSize)) {
    notes->cutShort = true;
  }
  ++notes->layers;
  if (recursionLevel == 0) notes->topFacts = FactsOfTopType(type, fileSize, notes->htmlParsed);
  return CL_CLEAN;
}

}  // namespace

Engine::Engine(cl_engine* engine)
    : engine_(engine), defaults_(ReadLimits(engine)), applied_(defaults_), factsKnown_(FactsHoldForThisLibrary()) {}

Engine::~Engine() { Lib().engine_free(engine_); }

Engine* Engine::Load(const char* path, bool folder, std::uint32_t& signatures, cl_error_t& status) {
  signatures = 0;
  if (path == nullptr || *path == '\0') {
    status = CL_ENULLARG;
    return nullptr;
  }
  // The two loaders differ only in what they accept: a folder, or one file.
  std::error_code ec;
  std::filesystem::file_status type = std::filesystem::status(platform::FileSystemPath(path), ec);
  bool isFolder = std::filesystem::is_directory(type);
  if (ec || isFolder != folder || (!folder && !std::filesystem::is_regular_file(type))) {
    status = CL_EOPEN;
    return nullptr;
  }
  return LoadInto({{path, kDbStandardOptions}}, signatures, status);
}

Engine* Engine::LoadFolders(const char* official, const char* local, std::uint32_t& signatures,
                            cl_error_t& status) {
  signatures = 0;
  const char* const paths[2] = {official, local};
  for (const char* path : paths) {
    std::error_code ec;
    if (path != nullptr && *path != '\0' && !std::filesystem::is_directory(std::filesystem::status(path, ec))) {
      status = CL_EOPEN;
      return nullptr;
    }
  }
  // Names as the provider's signed containers give them, without the suffix
  // libclamav puts on local signatures' names.
  return LoadInto({{official, kDbStandardOptions | kDbOfficial}, {local, kDbStandardOptions}}, signatures, status);
}

Engine* Engine::LoadPaths(const char* const* paths, std::uint32_t count, std::uint32_t& signatures,
                          cl_error_t& status, std::uint32_t& failed) {
  signatures = 0;
  failed = count;
  std::vector<Source> sources;
  for (std::uint32_t i = 0; paths != nullptr && i < count; ++i) {
    std::error_code ec;
    const auto type = paths[i] != nullptr ? std::filesystem::status(platform::FileSystemPath(paths[i]), ec)
                                          : std::filesystem::file_status();
    if (paths[i] == nullptr || *paths[i] == '\0' || ec ||
        (!std::filesystem::is_directory(type) && !std::filesystem::is_regular_file(type))) {
      failed = i;
      status = CL_EOPEN;
      return nullptr;
    }
    sources.push_back({paths[i], kDbStandardOptions});
  }
  if (sources.empty()) {
    status = CL_ENULLARG;
    return nullptr;
  }
  return LoadInto(sources, signatures, status, &failed);
}

Engine* Engine::LoadInto(const std::vector<Source>& sources, std::uint32_t& signatures, cl_error_t& status,
                         std::uint32_t* failed) {
  cl_engine* engine = Lib().engine_new();
  if (engine == nullptr) {
    status = CL_EMEM;
    return nullptr;
  }
  // libclamav remembers clean files without regard to the options and limits they
  // were scanned with; since both change from scan to scan here, a remembered
  // "clean" could hide what a scan with other options finds.
  status = Lib().engine_set_num(engine, CL_ENGINE_DISABLE_CACHE, 1);
  Lib().engine_set_clcb_file_inspection(engine, NoteLayer);
  unsigned int loaded = 0;
  for (std::size_t i = 0; i < sources.size() && status == CL_SUCCESS; ++i) {
    const Source& source = sources[i];
    if (source.path == nullptr || *source.path == '\0') continue;
    status = Lib().load(source.path, engine, &loaded, source.options);
    if (status != CL_SUCCESS && failed != nullptr) *failed = static_cast<std::uint32_t>(i);
  }
  if (status != CL_SUCCESS) {
    Lib().engine_free(engine);
    return nullptr;
  }
  signatures = loaded;
  return new Engine(engine);
}

cl_error_t Engine::Build() {
  std::unique_lock lock(mutex_);
  if (compiled_) return CL_SUCCESS;
  cl_error_t result = Lib().engine_compile(engine_);
  compiled_ = result == CL_SUCCESS;
  return result;
}

cl_error_t Engine::SetTempFolder(const char* folder) {
  std::unique_lock lock(mutex_);
  return Lib().engine_set_str(engine_, CL_ENGINE_TMPDIR, folder);
}

cl_error_t Engine::Widen(std::uint32_t parse, std::uint64_t maxScanSize) {
  std::unique_lock lock(mutex_);
  if (maxScanSize != 0) {
    if (maxScanSize > static_cast<std::uint64_t>(std::numeric_limits<long long>::max())) return CL_EARG;
    const cl_error_t result =
        Lib().engine_set_num(engine_, CL_ENGINE_MAX_SCANSIZE, static_cast<long long>(maxScanSize));
    if (result != CL_SUCCESS) return result;
  }
  addedParse_ |= parse;
  return CL_SUCCESS;
}

cl_error_t Engine::Apply(const EngineLimitValues& limits) {
  cl_error_t result = Lib().engine_set_num(engine_, CL_ENGINE_MAX_RECURSION, limits.maxRecursion);
  if (result == CL_SUCCESS) result = Lib().engine_set_num(engine_, CL_ENGINE_MAX_FILES, limits.maxFiles);
  if (result == CL_SUCCESS) result = Lib().engine_set_num(engine_, CL_ENGINE_MAX_FILESIZE, limits.maxFileSize);
  // What the engine holds now, whether or not every value was taken.
  applied_ = ReadLimits(engine_);
  return result;
}

cl_error_t Engine::Scan(const clam_limits* limits, const ScanFunction& scan, std::uint32_t* facts) {
  EngineLimitValues wanted = LimitsFromRecord(limits, defaults_);
  {
    std::shared_lock lock(mutex_);
    if (!compiled_) return CL_EARG;
    if (applied_ == wanted) return Run(scan, facts);
  }
  std::unique_lock lock(mutex_);
  if (!(applied_ == wanted)) {
    cl_error_t result = Apply(wanted);
    if (result != CL_SUCCESS) return result;
  }
  return Run(scan, facts);
}

// Called with the lock held, so that the limits stay those applied.
cl_error_t Engine::Run(const ScanFunction& scan, std::uint32_t* facts) {
  ScanNotes notes{applied_.maxFileSize};
  const cl_error_t result = scan(*engine_, notes);
  if (facts != nullptr) *facts = factsKnown_ && result == CL_CLEAN && notes.layers == 1 ? notes.topFacts : 0;
  return result == CL_CLEAN && notes.cutShort ? CL_EMAXSIZE : result;
}

}  // namespace korbu::bridge
