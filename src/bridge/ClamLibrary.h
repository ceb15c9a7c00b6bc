#pragma once
// libclamav, bound at run time: the platform's libclamav is opened once per
// process and the cl_ functions the bridge calls are looked up by name.

#include <string>

#include "bridge/ClamTypes.h"

namespace korbu::bridge {

/// The cl_ functions of the bound libclamav.
struct ClamFunctions {
  clam::cl_error_t (*init)(unsigned int options);
  void (*set_clcb_msg)(clam::clcb_msg callback);
  void (*debug)();
  unsigned int (*retflevel)();
  const char* (*retver)();
  const char* (*strerror)(clam::cl_error_t code);
  clam::cl_engine* (*engine_new)();
  clam::cl_error_t (*engine_free)(clam::cl_engine* engine);
  clam::cl_error_t (*engine_set_num)(clam::cl_engine* engine, clam::cl_engine_field field, long long num);
  clam::cl_error_t (*engine_set_str)(clam::cl_engine* engine, clam::cl_engine_field field, const char* str);
  long long (*engine_get_num)(const clam::cl_engine* engine, clam::cl_engine_field field, int* err);
  clam::cl_error_t (*engine_compile)(clam::cl_engine* engine);
  clam::cl_error_t (*load)(const char* path, clam::cl_engine* engine, unsigned int* signo,
                           unsigned int options);
  clam::cl_error_t (*cvdverify)(const char* path);
  void (*engine_set_clcb_file_inspection)(clam::cl_engine* engine, clam::clcb_file_inspection callback);
  clam::cl_error_t (*scanfile_callback)(const char* path, const char** virname, unsigned long* scanned,
                                        const clam::cl_engine* engine, clam::cl_scan_options* options,
                                        void* context);
  clam::cl_error_t (*scandesc_callback)(int desc, const char* filename, const char** virname,
                                        unsigned long* scanned, const clam::cl_engine* engine,
                                        clam::cl_scan_options* options, void* context);
  clam::cl_fmap_t* (*fmap_open_memory)(const void* start, std::size_t length);
  void (*fmap_close)(clam::cl_fmap_t* map);
  clam::cl_error_t (*scanmap_callback)(clam::cl_fmap_t* map, const char* filename,
                                       const char** virname, unsigned long* scanned,
                                       const clam::cl_engine* engine,
                                       clam::cl_scan_options* options, void* context);
};

/// Binds libclamav once per process (the first caller does it) and returns its
/// functions; null when no usable libclamav was found (ClamProblem tells why).
const ClamFunctions* Clam();

/// Why Clam() is null: where libclamav was looked for and the loader's error, a
/// missing function, or a release older than 1.2. Empty when it is bound.
const std::string& ClamProblem();

}  // namespace korbu::bridge
