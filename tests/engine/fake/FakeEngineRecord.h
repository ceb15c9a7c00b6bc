#pragma once
// What the fake engine library remembers of its calls; tests read it through the
// library's extra entry "fake_record".

#include <cstdint>

namespace korbu::test {

struct FakeEngineRecord {
  int loaddbCalls = 0;
  int loaddbdirCalls = 0;
  int buildCalls = 0;
  int freeCalls = 0;
  int scanfileCalls = 0;
  int scandescCalls = 0;
  char lastLoadPath[512] = {};
  // The limits record and option word of the last scan entry, as handed over.
  unsigned char lastLimits[20] = {};
  unsigned int lastOptions = 0;
};

using FakeRecordEntry = FakeEngineRecord* (*)();

}  // namespace korbu::test
