#pragma once
// Helpers for the window tests: a scripted engine start-up and control look-up.

#include <QString>
#include <QTest>
#include <QWidget>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/EngineStartup.h"

namespace korbu::test {

/// An engine start-up that answers as told and records which steps ran.
class ScriptedEngine final : public EngineStartup {
 public:
  struct Script {
    bool library = true;
    bool database = true;
    std::uint32_t signatures = 17;
    std::pair<std::string, std::string> versions{"6", "3"};
    std::pair<std::string, std::string> dates{"22 Jun 2021", "22 Jun 2021"};
    bool failVersions = false;  // a damaged header: the read throws
    bool failLoad = false;
    std::string reason;  // why the engine is not loaded
  };

  explicit ScriptedEngine(Script script, std::shared_ptr<std::vector<std::string>> calls = {})
      : script_(std::move(script)), calls_(std::move(calls)) {}

  void CreateEngine() override { Note("create"); }
  Status LibraryAvailable() override {
    Note("library");
    return script_.library ? Ok() : Failure("no engine library");
  }
  Status LoadDatabase() override {
    Note("database");
    if (script_.failLoad) throw std::runtime_error("cannot read main.cvd");
    return script_.database ? Ok() : Failure(script_.reason);
  }
  std::uint32_t SignatureCount() override { return script_.signatures; }
  std::pair<std::string, std::string> DatabaseVersions() override {
    if (script_.failVersions) throw std::runtime_error("damaged header");
    return script_.versions;
  }
  std::pair<std::string, std::string> DatabaseDates() override { return script_.dates; }

 private:
  void Note(const char* step) {
    if (calls_) calls_->push_back(step);
  }
  Script script_;
  std::shared_ptr<std::vector<std::string>> calls_;
};

/// The one child of that name and type; throws (failing the test) when missing.
template <typename T>
T* Control(QWidget* window, const char* name) {
  T* found = window->findChild<T*>(QString::fromLatin1(name));
  if (found == nullptr) throw std::runtime_error(std::string("no control ") + name);
  return found;
}

/// Where screenshots and other artefacts of the GUI tests go.
QString ArtefactDir(const char* sub);

}  // namespace korbu::test
