#include "tests/support/Support.h"

#include <fmt/format.h>

namespace CorvaneTest {

TraceCapture::TraceCapture(std::string source, uint16_t mask)
    : source_(std::move(source)), handler_(Corvane::getDebugHandler(source_)), oldMask_(handler_->levelMask()) {
  handler_->levelMaskIs(mask);
  previous_ = Corvane::traceSinkIs([this](Corvane::TraceRecord const& r) {
    if (r.source == source_) records_.push_back(r);
  });
}

TraceCapture::~TraceCapture() {
  Corvane::traceSinkIs(std::move(previous_));
  handler_->levelMaskIs(oldMask_);
}

Corvane::Ptr<Corvane::TaskScheduler> yieldingScheduler(uint32_t n) {
  auto s = Corvane::TaskScheduler::TaskSchedulerIs();
  s->yieldEveryIs(n);
  return s;
}

Corvane::SmControl control(uint8_t synchronous, Corvane::Ptr<Corvane::TaskScheduler> s) {
  Corvane::SmControl c;
  c.synchronousIs(synchronous);
  c.schedulerIs(std::move(s));
  return c;
}

std::string line(int level, std::string const& function, std::string const& className, std::string const& message) {
  return fmt::format("{}|{}|{}|{}", level, function, className, message);
}

std::vector<std::string> TraceCapture::lines() const {
  std::vector<std::string> out;
  for (auto const& r : records_) out.push_back(line(r.level, r.function, r.className, r.message));
  return out;
}

}  // namespace CorvaneTest
