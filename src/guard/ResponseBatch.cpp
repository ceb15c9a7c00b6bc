#include "guard/ResponseBatch.h"

#include <unistd.h>

namespace korbu::guard {

void ResponseBatch::Send() {
  if (!responses_.empty()) group_.AnswerAll(responses_.data(), responses_.size());
  for (const int fd : toClose_) ::close(fd);
  responses_.clear();
  toClose_.clear();
}

}  // namespace korbu::guard
