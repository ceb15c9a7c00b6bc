// The registry of a Wine prefix while its wineserver runs, reached through the
// helper (WineRegHelper.h), and the batches that group those reaches.
#include <algorithm>
#include <map>

#include "platform/wine/WineRegHelper.h"
#include "platform/wine/WineRegistryLock.h"
#include "platform/wine/WineRegistryRoutes.h"

namespace korbu::platform::wine {
namespace {

using winereg::Operation;
using winereg::Result;

// The batch's name of a key: its root and its path below it.
std::u16string LiveName(RootKey helperRoot, std::u16string_view key) {
  return (helperRoot == kHkeyLocalMachine ? std::u16string(u"M\\") : std::u16string(u"U\\")) + std::u16string(key);
}

std::string FileOf(const std::string& prefix, RootKey helperRoot) {
  return prefix + (helperRoot == kHkeyLocalMachine ? "/system.reg" : "/user.reg");
}

LivePrefix* BatchPrefix(const std::string& prefix) {
  WineBatch* batch = CurrentBatch();
  if (batch == nullptr) return nullptr;
  for (LivePrefix& work : batch->live)
    if (work.prefix == prefix) return &work;
  batch->live.push_back(LivePrefix{prefix, std::nullopt, {}, {}, {}});
  return &batch->live.back();
}

const std::atomic<bool>* StopFlag() {
  const RegistryBatch::State* batch = CurrentRegistryBatch();
  return batch != nullptr ? batch->stop : nullptr;
}

Operation ReadOf(RootKey helperRoot, const std::u16string& key) {
  Operation op;
  op.kind = Operation::Kind::Read;
  op.root = helperRoot;
  op.key = key;
  return op;
}

Expected<std::vector<Result>> Reach(LivePrefix* work, const std::string& prefix, const std::vector<Operation>& ops) {
  if (work != nullptr && work->unreachable) return *work->unreachable;
  auto results = RunWineHelper(prefix, ops, StopFlag());
  if (!results && work != nullptr) work->unreachable = results.error();
  return results;
}

Error Refused(std::string_view what, const Result& result) {
  return Failure("Wine refused to " + std::string(what) + " (Windows error " + std::to_string(result.code) + ")");
}

Expected<LiveKey> KeyOf(const Result& result) {
  switch (result.outcome) {
    case Result::Outcome::Done: return LiveKey(result.values);
    case Result::Outcome::NotFound: return LiveKey();
    case Result::Outcome::NotEmpty:
    case Result::Outcome::Failed: break;
  }
  return Refused("read the key", result);
}

// Whether a change shows in the key as read after it; the reason when it does not.
Status TookEffect(const Operation& op, const Result& done, const Expected<LiveKey>& after) {
  if (done.outcome == Result::Outcome::Failed) return Refused("make the change", done);
  if (!after) return after.error();
  const WineValue* found = *after ? FindValue(**after, op.name) : nullptr;
  switch (op.kind) {
    case Operation::Kind::Set:
      if (found != nullptr && found->type == op.type && found->data == op.data) return Ok();
      return Failure("the value does not read back as written");
    case Operation::Kind::Delete:
      if (found == nullptr) return Ok();
      return Failure("the value is still there");
    case Operation::Kind::CreateKey:
      if (*after) return Ok();
      return Failure("the key was not made");
    case Operation::Kind::DeleteEmptyKey:
      if (done.outcome == Result::Outcome::NotEmpty) return Failure("the key is not empty");
      if (done.outcome == Result::Outcome::NotFound) return Failure("no such key", ErrorKind::NotFound);
      if (!*after) return Ok();
      return Failure("the key is still there");
    case Operation::Kind::Read: break;
  }
  return Ok();
}

// Wine holds a change in memory and saves it later; one it cannot save is lost
// when its server ends.
Status Saved(const std::string& file, Status status) {
  if (!status) return status;
  if (auto savable = RegistryFileSavable(file); !savable)
    return Failure("Wine took the change but cannot save it: " + savable.error().reason);
  return status;
}

// The change as the batch's cache shows it until the batch commits. A key not
// read yet stays unread: its other values are not known.
void ApplyToCache(LivePrefix& work, const Operation& op) {
  const auto found = work.cache.find(LiveName(op.root, op.key));
  if (found == work.cache.end()) return;
  LiveKey& key = found->second;
  switch (op.kind) {
    case Operation::Kind::CreateKey:
      if (!key) key.emplace();
      return;
    case Operation::Kind::DeleteEmptyKey:
      if (key && key->empty()) key.reset();
      return;
    case Operation::Kind::Set:
    case Operation::Kind::Delete:
      break;
    case Operation::Kind::Read: return;
  }
  if (!key) key.emplace();
  std::erase_if(*key, [&](const WineValue& value) { return SameName(value.name, op.name); });
  if (op.kind == Operation::Kind::Set) key->push_back(WineValue{op.name, op.type, op.data});
}

}  // namespace

WineBatch* CurrentBatch() { return CurrentBatchPart<WineBatch>("wine"); }

const WineValue* FindValue(const std::vector<WineValue>& values, std::u16string_view name) {
  for (const WineValue& value : values)
    if (SameName(value.name, name)) return &value;
  return nullptr;
}

Expected<LiveKey> ReadLiveKey(const KeyPlace& place) {
  LivePrefix* work = BatchPrefix(place.prefix);
  const std::u16string name = LiveName(place.helperRoot, place.helperKey);
  if (work != nullptr) {
    if (auto cached = work->cache.find(name); cached != work->cache.end()) return cached->second;
  }
  auto results = Reach(work, place.prefix, {ReadOf(place.helperRoot, place.helperKey)});
  if (!results) return results.error();
  auto key = KeyOf(results->front());
  if (key && work != nullptr) work->cache[name] = *key;
  return key;
}

Status ChangeLive(const KeyPlace& place, Operation op, std::string valueName) {
  op.root = place.helperRoot;
  op.key = place.helperKey;
  if (LivePrefix* work = BatchPrefix(place.prefix)) {
    if (work->unreachable) return *work->unreachable;
    ApplyToCache(*work, op);
    const bool keyItself = op.kind == Operation::Kind::CreateKey || op.kind == Operation::Kind::DeleteEmptyKey;
    work->origins.push_back(RegistryWriteFailure{place.root, place.keyPath, std::move(valueName),
                                                 op.kind == Operation::Kind::Delete || op.kind == Operation::Kind::DeleteEmptyKey,
                                                 keyItself, place.prefix, std::string()});
    work->pending.push_back(std::move(op));
    return Ok();
  }
  auto results = RunWineHelper(place.prefix, {op, ReadOf(op.root, op.key)}, nullptr);
  if (!results) return results.error();
  return Saved(place.file, TookEffect(op, (*results)[0], KeyOf((*results)[1])));
}

Status PrefetchLive(const std::string& prefix, const std::vector<std::pair<RootKey, std::string>>& keys) {
  if (CurrentBatch() == nullptr || !WineServerRunning(prefix)) return Ok();
  // The keys of each prefix whose server runs, not read yet.
  std::vector<std::pair<KeyPlace, std::vector<winereg::Operation>>> byPrefix;
  for (const auto& [root, keyPath] : keys) {
    auto place = LocateKey(prefix, root, keyPath);
    if (!place) continue;
    LivePrefix* work = BatchPrefix(place->prefix);
    if (work->unreachable) return *work->unreachable;
    if (work->cache.contains(LiveName(place->helperRoot, place->helperKey))) continue;
    auto group = std::find_if(byPrefix.begin(), byPrefix.end(),
                              [&](const auto& entry) { return entry.first.prefix == place->prefix; });
    if (group == byPrefix.end()) group = byPrefix.insert(byPrefix.end(), {*place, {}});
    group->second.push_back(ReadOf(place->helperRoot, place->helperKey));
  }
  for (const auto& [place, reads] : byPrefix) {
    LivePrefix* work = BatchPrefix(place.prefix);
    auto results = Reach(work, place.prefix, reads);
    if (!results) return results.error();
    for (std::size_t i = 0; i < reads.size(); ++i) {
      auto key = KeyOf((*results)[i]);
      if (key) work->cache[LiveName(reads[i].root, reads[i].key)] = std::move(*key);
    }
  }
  return Ok();
}

bool WineBatch::HasPending() const {
  return std::any_of(live.begin(), live.end(), [](const LivePrefix& work) { return !work.pending.empty(); });
}

std::vector<RegistryWriteFailure> WineBatch::Commit() {
  std::vector<RegistryWriteFailure> failures;
  for (LivePrefix& work : live) {
    if (work.pending.empty()) continue;
    // The changes, then one read of each key they touched.
    std::vector<winereg::Operation> ops = work.pending;
    std::vector<std::u16string> names;
    for (const winereg::Operation& op : work.pending) {
      const std::u16string name = LiveName(op.root, op.key);
      if (std::none_of(names.begin(), names.end(), [&](const std::u16string& n) { return SameName(n, name); })) {
        names.push_back(name);
        ops.push_back(ReadOf(op.root, op.key));
      }
    }
    auto results = Reach(&work, work.prefix, ops);
    // What was cached before no longer tells: the keys are read afresh next time.
    for (const std::u16string& name : names) work.cache.erase(name);
    std::vector<Expected<LiveKey>> after;
    for (std::size_t i = 0; results && i < names.size(); ++i) {
      after.push_back(KeyOf((*results)[work.pending.size() + i]));
      if (after.back()) work.cache[names[i]] = *after.back();
    }
    std::map<std::string, Status> savable;  // by file, asked once
    for (std::size_t i = 0; i < work.pending.size(); ++i) {
      const winereg::Operation& op = work.pending[i];
      Status status = results ? Ok() : Status(results.error());
      if (results) {
        const std::u16string name = LiveName(op.root, op.key);
        const auto index = static_cast<std::size_t>(
            std::find_if(names.begin(), names.end(), [&](const std::u16string& n) { return SameName(n, name); }) -
            names.begin());
        status = TookEffect(op, (*results)[i], after[index]);
        const std::string file = FileOf(work.prefix, op.root);
        if (status && !savable.contains(file)) savable.emplace(file, Saved(file, Ok()));
        if (status) status = savable.at(file);
      }
      // A key made for the values that follow tells nothing of its own.
      if (status || op.kind == winereg::Operation::Kind::CreateKey) continue;
      RegistryWriteFailure failure = work.origins[i];
      failure.reason = status.error().reason;
      failures.push_back(std::move(failure));
    }
    work.pending.clear();
    work.origins.clear();
  }
  return failures;
}

}  // namespace korbu::platform::wine
