#include "bridge/ClamLibrary.h"

#include <cstring>

#include "bridge/ClamLoader.h"

namespace korbu::bridge {
namespace {

struct Binding {
  ClamFunctions functions{};
  bool bound = false;
  std::string problem;
};

template <typename Function>
void Find(void* library, const char* name, Function& function, std::string& missing) {
  void* address = LibclamavFunction(library, name);
  // The loaders give function addresses as object pointers of the same size.
  static_assert(sizeof(function) == sizeof(address));
  std::memcpy(&function, &address, sizeof(function));
  if (address == nullptr) missing += std::string(missing.empty() ? "" : ", ") + name;
}

Binding Bind() {
  Binding b;
  void* library = OpenLibclamav(b.problem);
  if (library == nullptr) return b;
  ClamFunctions& f = b.functions;
  std::string missing;
  Find(library, "cl_init", f.init, missing);
  Find(library, "cl_set_clcb_msg", f.set_clcb_msg, missing);
  Find(library, "cl_debug", f.debug, missing);
  Find(library, "cl_retflevel", f.retflevel, missing);
  Find(library, "cl_retver", f.retver, missing);
  Find(library, "cl_strerror", f.strerror, missing);
  Find(library, "cl_engine_new", f.engine_new, missing);
  Find(library, "cl_engine_free", f.engine_free, missing);
  Find(library, "cl_engine_set_num", f.engine_set_num, missing);
  Find(library, "cl_engine_set_str", f.engine_set_str, missing);
  Find(library, "cl_engine_get_num", f.engine_get_num, missing);
  Find(library, "cl_engine_compile", f.engine_compile, missing);
  Find(library, "cl_load", f.load, missing);
  Find(library, "cl_cvdverify", f.cvdverify, missing);
  Find(library, "cl_engine_set_clcb_file_inspection", f.engine_set_clcb_file_inspection, missing);
  Find(library, "cl_scanfile_callback", f.scanfile_callback, missing);
  Find(library, "cl_scandesc_callback", f.scandesc_callback, missing);
  Find(library, "cl_fmap_open_memory", f.fmap_open_memory, missing);
  Find(library, "cl_fmap_close", f.fmap_close, missing);
  Find(library, "cl_scanmap_callback", f.scanmap_callback, missing);
  if (!missing.empty()) {
    b.problem = "libclamav lacks " + missing;
  } else if (unsigned int level = f.retflevel(); level < clam::kMinimumFunctionalityLevel) {
    // Older releases lay the engine settings out differently.
    b.problem = "libclamav " + std::string(f.retver()) + " is older than 1.2 (functionality level " +
                std::to_string(level) + ")";
  } else {
    b.bound = true;  // kept loaded for the rest of the process
    return b;
  }
  CloseLibclamav(library);
  b.functions = ClamFunctions{};
  return b;
}

const Binding& State() {
  static const Binding binding = Bind();
  return binding;
}

}  // namespace

const ClamFunctions* Clam() {
  const Binding& b = State();
  return b.bound ? &b.functions : nullptr;
}

const std::string& ClamProblem() { return State().problem; }

}  // namespace korbu::bridge
