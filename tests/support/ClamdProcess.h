#pragma once
// A clamd of a test's own: its configuration, socket and temporary files in a
// folder of the test's, the shared test databases, the project's clamd settings.
// Not on Windows, where no clamd runs.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/ClamdAddress.h"

namespace korbu::test {

class ClamdProcess {
 public:
  /// Why no clamd can be started here (clamd or the databases missing); empty
  /// when one can.
  static std::string Unavailable();

  /// Starts clamd in folder, on a local socket, or on a TCP port of 127.0.0.1
  /// when tcp is set, with extra lines after the project's settings; returns once
  /// it answers. Started() tells whether it did, Problem() why not.
  ClamdProcess(const std::string& folder, bool tcp, const std::vector<std::string>& extra = {});
  ~ClamdProcess();
  ClamdProcess(const ClamdProcess&) = delete;
  ClamdProcess& operator=(const ClamdProcess&) = delete;

  bool Started() const { return problem_.empty(); }
  const std::string& Problem() const { return problem_; }
  const ClamdAddress& Address() const { return address_; }

  /// Kills it at once (no clean exit), and waits for it.
  void Kill();

 private:
  int pid_ = -1;
  ClamdAddress address_;
  std::string problem_;
};

/// A TCP port of 127.0.0.1 that was free a moment ago.
std::uint16_t FreeLoopbackPort();

}  // namespace korbu::test
