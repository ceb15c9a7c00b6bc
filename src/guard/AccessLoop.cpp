#include "guard/AccessLoop.h"

#include <poll.h>
#include <sys/fanotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include "scan/CachedVerdict.h"
#include "guard/ThreadScheduling.h"
#include "scan/FileVerdict.h"

namespace korbu::guard {
namespace {

constexpr std::uint64_t kPermission = FAN_OPEN_PERM | FAN_OPEN_EXEC_PERM | FAN_ACCESS_PERM;
// What a file that cannot be an image needs no verdict for.
constexpr std::uint64_t kPlainAccess = FAN_OPEN_PERM | FAN_ACCESS_PERM;

std::string WhyNotWhole(const FileVerdictResult& result) {
  if (!result.error.empty()) return result.error;
  if (result.notWhole) return "over the engine's limit " + result.notWhole->name;
  return std::string();
}

platform::FileStatus IdentityOf(platform::OpenedFile& file) {
  platform::FileStatus status;
  struct stat st {};
  if (::fstat(file.Descriptor(), &st) == 0) {
    status.device = static_cast<std::uint64_t>(st.st_dev);
    status.index = static_cast<std::uint64_t>(st.st_ino);
  }
  return status;
}

}  // namespace

std::string PathOfDescriptor(int fd) {
  char buffer[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t got = ::readlink(link.c_str(), buffer, sizeof buffer);
  if (got <= 0 || static_cast<std::size_t>(got) >= sizeof buffer) return std::string();
  return std::string(buffer, static_cast<std::size_t>(got));
}

bool CannotBeWindowsImage(int fd) {
  char head[2] = {};
  return ::pread(fd, head, sizeof head, 0) != 2 || head[0] != 'M' || head[1] != 'Z';
}

AccessLoop::AccessLoop(FanotifyGroup& group, const ScanContext& context, GuardReport& report,
                       std::chrono::milliseconds timeout, int workers, int spinners)
    : group_(group),
      context_(context),
      report_(report),
      timeout_(timeout),
      marks_(group),
      newFileFolders_(group),
      ownPid_(static_cast<int>(::getpid())),
      spinners_(spinners) {
  workers_ = std::make_unique<JudgeWorkers>(workers, [this](Judgement& judgement) { Judge(judgement); });
}

AccessLoop::~AccessLoop() {
  LetExpiredGo(true);
  // A judgement under way may yet open its file by name (a volume's, a written
  // one past the held bound): that open waits for an answer from this thread.
  workers_->BeginStop();
  while (workers_->Running() > 0) AllowEverything(std::chrono::milliseconds(20));
  workers_->Stop();
}

void AccessLoop::AllowEverything(std::chrono::milliseconds wait) {
  pollfd fd{group_.Fd(), POLLIN, 0};
  if (::poll(&fd, 1, static_cast<int>(wait.count())) <= 0) return;
  alignas(fanotify_event_metadata) char buffer[16 * 1024];
  const ssize_t got = ::read(group_.Fd(), buffer, sizeof buffer);
  if (got <= 0) return;
  ResponseBatch batch(group_);
  auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
  ssize_t left = got;
  for (; FAN_EVENT_OK(event, left) && event->vers == FANOTIFY_METADATA_VERSION; event = FAN_EVENT_NEXT(event, left)) {
    if (event->fd >= 0) batch.Allow(event->fd);
  }
}

void AccessLoop::Run(int stopFd, int watchFd, const std::function<void()>& onWatch) {
  using Clock = PendingAccesses::Clock;
  pollfd fds[4] = {
      {group_.Fd(), POLLIN, 0}, {stopFd, POLLIN, 0}, {group_.WrittenFd(), POLLIN, 0}, {watchFd, POLLPRI, 0}};
  const nfds_t count = watchFd >= 0 ? 4 : 3;
  AskShortSlices();
  Clock::time_point raiseDue = Clock::now();
  while (true) {
    int wait = -1;  // idle: no wake-up at all
    const auto until = [&](Clock::time_point at) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(at - Clock::now());
      const int ms = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
      wait = wait < 0 ? ms : std::min(wait, ms);
    };
    Clock::time_point next;
    if (pending_.NextDeadline(next)) until(next);
    // While written files gather, their arrival wakes nobody: a descriptor polled
    // for no event would still be woken by each.
    fds[2].fd = writtenDue_ ? -1 : group_.WrittenFd();
    if (writtenDue_) until(*writtenDue_);
    if (workers_->JudgingInBackground()) until(raiseDue);
    if (Clock::time_point folders; newFileFolders_.NextDeadline(folders)) until(folders);
    const int ready = ::poll(fds, count, wait);
    if (ready < 0 && errno != EINTR) break;
    if (fds[1].revents != 0) break;
    if (fds[0].revents & POLLIN) ReadAccesses();
    if (!writtenDue_ && (fds[2].revents & POLLIN) != 0) writtenDue_ = Clock::now() + kWrittenWindow;
    if (writtenDue_ && Clock::now() >= *writtenDue_) {
      writtenDue_.reset();
      if (ReadWritten()) writtenDue_ = Clock::now();  // the rest after the accesses waiting
    }
    if (count == 4 && (fds[3].revents & (POLLPRI | POLLERR)) != 0 && onWatch) onWatch();
    LetExpiredGo(false);
    newFileFolders_.EndDue(Clock::now());
    // Now and then, not after each event: it takes the workers' lock.
    if (const Clock::time_point now = Clock::now(); now >= raiseDue) {
      workers_->RaiseStarved(now, kStarvedAfter);
      raiseDue = now + kStarvedAfter / 2;
    }
  }
  LetExpiredGo(true);
}

void AccessLoop::ReadAccesses() {
  alignas(fanotify_event_metadata) char buffer[64 * 1024];
  while (true) {
    const ssize_t got = ::read(group_.Fd(), buffer, sizeof buffer);
    if (got <= 0) return;  // EAGAIN: all read
    ResponseBatch batch(group_);
    auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
    ssize_t left = got;
    bool others = false;  // the guard's own opens (judgements by name) keep no processor awake
    for (; FAN_EVENT_OK(event, left); event = FAN_EVENT_NEXT(event, left)) {
      if (event->vers != FANOTIFY_METADATA_VERSION) {
        report_.Info("fanotify speaks another version: events are left to the kernel");
        return;
      }
      others = others || event->pid != ownPid_;
      if (event->fd >= 0) AnswerAccess(event->fd, event->mask, event->pid, batch);
    }
    batch.Send();
    if (others) spinners_.Arrived(PendingAccesses::Clock::now());
    // A read that did not fill the buffer took all there was: poll tells of more.
    if (static_cast<std::size_t>(got) + sizeof(fanotify_event_metadata) * 16 < sizeof buffer) return;
  }
}

void AccessLoop::AnswerAccess(int eventFd, std::uint64_t mask, int pid, ResponseBatch& batch) {
  // The guard's own reads (of a new volume, of a file it quarantines) wait for nobody.
  if (pid == ownPid_) return batch.Allow(eventFd);
  struct stat st {};
  if (::fstat(eventFd, &st) != 0 || !S_ISREG(st.st_mode)) return batch.Allow(eventFd);
  const bool exec = (mask & FAN_OPEN_EXEC_PERM) != 0;
  // A plain open or a read matters only as Wine loading a Windows program,
  // whose image begins with "MZ": a file just made, still empty, cannot be one.
  if (!exec && st.st_size < 2) {
    // Before the answer: the maker's next file in that folder is not asked about.
    if ((mask & FAN_OPEN_PERM) != 0) {
      if (const std::string why = newFileFolders_.Made(eventFd, st, PendingAccesses::Clock::now()); !why.empty()) {
        report_.Info(why);
      }
    }
    return batch.Allow(eventFd);
  }
  const bool markable = marks_.MayMark(st);
  if (!exec && !markable && CannotBeWindowsImage(eventFd)) return batch.Allow(eventFd);
  const int fd = ::dup(eventFd);  // the file's own, while eventFd stays to be answered
  platform::OpenedFile file = fd >= 0 ? platform::OpenedFile::Adopt(fd) : platform::OpenedFile();
  if (!file.IsOpen()) return batch.Allow(eventFd);
  const IgnoreMarks::Before before = markable ? marks_.Prepare(file) : IgnoreMarks::Before{};
  if (!exec && CannotBeWindowsImage(eventFd)) {
    Ignore(file, before, kPlainAccess);
    return batch.Allow(eventFd);
  }
  if (CacheLookup(context_.cache, file).Clean()) {
    Ignore(file, before, kPermission);
    return batch.Allow(eventFd);
  }
  std::string name = PathOfDescriptor(eventFd);
  pending_.Add(eventFd, name, PendingAccesses::Clock::now() + timeout_);
  workers_->Push(Judgement{Judgement::Kind::Access, std::move(file), eventFd, std::move(name), pid});
}

void AccessLoop::Ignore(platform::OpenedFile& file, const IgnoreMarks::Before& before, std::uint64_t mask) {
  if (const std::string why = marks_.Mark(file, before, mask); !why.empty()) report_.Info(why);
}

bool AccessLoop::ReadWritten() {
  // A bounded batch, so that accesses waiting meanwhile are answered soon.
  alignas(fanotify_event_metadata) char buffer[64 * sizeof(fanotify_event_metadata)];
  const ssize_t got = ::read(group_.WrittenFd(), buffer, sizeof buffer);
  if (got <= 0) return false;
  std::vector<Judgement> written;
  auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
  ssize_t left = got;
  for (; FAN_EVENT_OK(event, left); event = FAN_EVENT_NEXT(event, left)) {
    if (event->vers != FANOTIFY_METADATA_VERSION) {
      report_.Info("fanotify speaks another version: written files are not judged");
      return false;
    }
    if (event->mask & FAN_Q_OVERFLOW) report_.Info("fanotify's queue overflowed: some written files were not judged");
    if (event->fd < 0) continue;
    const int eventFd = event->fd;
    if (event->pid == ownPid_) {
      ::close(eventFd);
      continue;
    }
    platform::OpenedFile file = platform::OpenedFile::Adopt(eventFd);  // closed unless a regular file
    if (!file.IsOpen()) continue;
    marks_.Forget(eventFd);
    std::string name = PathOfDescriptor(eventFd);
    written.push_back(Judgement{Judgement::Kind::Written, std::move(file), eventFd, std::move(name), event->pid});
  }
  if (!written.empty()) newFileFolders_.Written(PendingAccesses::Clock::now());
  workers_->PushAll(std::move(written));
  return static_cast<std::size_t>(got) + sizeof(fanotify_event_metadata) > sizeof buffer;
}

void AccessLoop::JudgeNamed(std::string path) {
  workers_->Push(Judgement{Judgement::Kind::Named, platform::OpenedFile(), -1, std::move(path), 0});
}

void AccessLoop::Judge(Judgement& judgement) {
  if (judgement.kind == Judgement::Kind::Named) {
    judgement.file = platform::OpenedFile::Open(judgement.name);
    if (!judgement.file.IsOpen()) return;  // gone, or no regular file: nothing to judge
  }
  const FileVerdictResult result = JudgeOpenedFile(judgement.file, judgement.name, context_);
  if (judgement.kind == Judgement::Kind::Access) {
    const bool answered = pending_.Claim(judgement.eventFd);
    if (answered) (void)group_.Answer(judgement.eventFd, result.verdict.empty());
    ::close(judgement.eventFd);
    if (!result.verdict.empty()) {
      if (answered) {
        report_.Refused(judgement.name, result.verdict, judgement.pid);
      } else {
        report_.Found(judgement.name, result.verdict, "judged after it was let go", nullptr);
      }
    } else if (!result.JudgedWhole() && answered) {
      report_.LetGo(judgement.name, WhyNotWhole(result));
    }
    return;
  }
  if (!result.verdict.empty()) {
    // Held open until the quarantine is done, so that its number on the volume
    // cannot pass to another file meanwhile.
    const platform::FileStatus identity = IdentityOf(judgement.file);
    report_.Found(judgement.name, result.verdict,
                  judgement.kind == Judgement::Kind::Written ? "written" : "on a new volume", &identity);
  } else if (!result.JudgedWhole()) {
    report_.LetGo(judgement.name, WhyNotWhole(result));
  }
}

void AccessLoop::LetExpiredGo(bool everything) {
  for (const PendingAccesses::Expired& access : pending_.ClaimExpired(PendingAccesses::Clock::now(), everything)) {
    (void)group_.Answer(access.eventFd, true);
    report_.LetGo(access.name, everything ? "the guard stopped before its verdict" : "no verdict in time");
  }
}

}  // namespace korbu::guard
