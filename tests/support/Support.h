// Shared helpers of the test suites: trace capture and transcripts, and live-object
// accounting.
#pragma once

#include <string>
#include <vector>

#include "corvane/Corvane.h"

namespace CorvaneTest {

// Collects the records of one source while alive, with that source's handler set
// to `mask`; restores the previous sink and mask afterwards.
class TraceCapture {
 public:
  TraceCapture(std::string source, uint16_t mask);
  ~TraceCapture();
  std::vector<Corvane::TraceRecord> const& records() const { return records_; }
  // "level|function|class|message" per record.
  std::vector<std::string> lines() const;
  void clear() { records_.clear(); }

 private:
  std::string source_;
  Corvane::Ptr<Corvane::DebugHandler> handler_;
  uint16_t oldMask_;
  Corvane::TraceSink previous_;
  std::vector<Corvane::TraceRecord> records_;
};

std::string line(int level, std::string const& function, std::string const& className, std::string const& message);

}  // namespace CorvaneTest
