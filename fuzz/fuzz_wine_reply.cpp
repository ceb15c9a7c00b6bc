// What comes back from Wine: the Wine registry helper's reply, read against the
// operations asked, and its request. Any input is read without harm; whatever
// is accepted answers each operation once and reads back the same when written.

#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/wine/RegProtocol.h"

using korbu::fuzz::Check;
using korbu::fuzz::InputSplitter;
using korbu::winereg::Operation;
using korbu::winereg::Result;

namespace {

bool Same(const std::vector<Result>& a, const std::vector<Result>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].outcome != b[i].outcome || a[i].code != b[i].code || a[i].values.size() != b[i].values.size()) return false;
    for (std::size_t j = 0; j < a[i].values.size(); ++j) {
      const auto& x = a[i].values[j];
      const auto& y = b[i].values[j];
      if (x.name != y.name || x.type != y.type || x.data != y.data) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputSplitter input(data, size);
  std::vector<Operation> ops(input.Byte() % 8);
  for (Operation& op : ops) op.kind = static_cast<Operation::Kind>(input.Byte() % 5);
  const std::string_view rest = input.Rest();

  if (auto reply = korbu::winereg::ParseReply(rest, ops)) {
    Check(reply->size() == ops.size(), "one result per operation");
    // What was read, written again, reads the same (a read with no values
    // and one that succeeded look alike, as they mean the same).
    auto again = korbu::winereg::ParseReply(korbu::winereg::FormatReply(*reply), ops);
    Check(again.has_value(), "a written reply reads back");
    Check(Same(*reply, *again), "a written reply keeps every result");
  }
  if (auto request = korbu::winereg::ParseRequest(rest)) {
    auto again = korbu::winereg::ParseRequest(korbu::winereg::FormatRequest(*request));
    Check(again.has_value() && again->size() == request->size(), "a written request reads back");
    for (std::size_t i = 0; i < request->size(); ++i) {
      const Operation& x = (*request)[i];
      const Operation& y = (*again)[i];
      Check(x.kind == y.kind && x.root == y.root && x.key == y.key && x.name == y.name && x.type == y.type &&
                x.data == y.data,
            "a written request keeps every operation");
    }
  }
  return 0;
}
