#include "guard/JudgeWorkers.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace korbu::guard {

int JudgeWorkers::ThreadsFor(int count) {
  if (count > 0) return count;
  return static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));
}

JudgeWorkers::JudgeWorkers(int count, Handler handler) : handler_(std::move(handler)) {
  const int threads = ThreadsFor(count);
  for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Run(); });
}

JudgeWorkers::~JudgeWorkers() { Stop(); }

void JudgeWorkers::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
  threads_.clear();
}

void JudgeWorkers::Push(Judgement judgement) {
  {
    const std::lock_guard lock(mutex_);
    if (stopping_) return;
    Queue(std::move(judgement));
  }
  wake_.notify_one();
}

void JudgeWorkers::PushAll(std::vector<Judgement> judgements) {
  if (judgements.empty()) return;
  {
    const std::lock_guard lock(mutex_);
    if (stopping_) return;
    for (Judgement& judgement : judgements) Queue(std::move(judgement));
  }
  if (judgements.size() == 1) {
    wake_.notify_one();
  } else {
    wake_.notify_all();
  }
}

void JudgeWorkers::Queue(Judgement judgement) {
  switch (judgement.kind) {
    case Judgement::Kind::Access: access_.push_back(std::move(judgement)); break;
    case Judgement::Kind::Written:
      // Newest first: a file just closed is found at once even behind a burst of
      // writes; the oldest held one waits by name once the bound is reached.
      if (written_.size() >= kHeldWrittenLimit) {
        Judgement oldest = std::move(written_.back());
        written_.pop_back();
        oldest.file = platform::OpenedFile();
        oldest.eventFd = -1;
        oldest.kind = Judgement::Kind::Named;
        named_.push_front(std::move(oldest));
      }
      written_.push_front(std::move(judgement));
      break;
    case Judgement::Kind::Named: named_.push_back(std::move(judgement)); break;
  }
}

std::size_t JudgeWorkers::Busy() const {
  const std::lock_guard lock(mutex_);
  return access_.size() + written_.size() + named_.size() + running_;
}

namespace {

// Files already written, and a volume's, are judged at a lower priority than the
// programs that wait for their verdict and than the programs writing them.
constexpr int kBackgroundNice = 10;

void SetThreadNice(int nice) {
  (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), nice);
}

}  // namespace

void JudgeWorkers::Run() {
  // The guard's own priority (a unit may raise it) is that of the accesses waiting.
  errno = 0;
  const int base = ::getpriority(PRIO_PROCESS, 0);
  const int accessNice = errno == 0 ? base : 0;
  int nice = accessNice;
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [&] { return stopping_ || !access_.empty() || !written_.empty() || !named_.empty(); });
    if (stopping_) return;
    std::deque<Judgement>& from = !access_.empty() ? access_ : !written_.empty() ? written_ : named_;
    Judgement judgement = std::move(from.front());
    from.pop_front();
    ++running_;
    lock.unlock();
    const int wanted = judgement.kind == Judgement::Kind::Access ? accessNice : accessNice + kBackgroundNice;
    if (wanted != nice) {
      SetThreadNice(wanted);
      nice = wanted;
    }
    handler_(judgement);
    judgement = Judgement();
    lock.lock();
    --running_;
  }
}

}  // namespace korbu::guard
