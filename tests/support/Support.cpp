#include "tests/support/Support.h"

#include <fmt/format.h>

#include <algorithm>

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

::testing::AssertionResult registeredInOrder(std::vector<Corvane::TypeData const*> const& types) {
  auto const all = Corvane::TypeRegistry::types();
  size_t last = 0;
  for (Corvane::TypeData const* t : types) {
    size_t const place = size_t(std::find(all.begin(), all.end(), t) - all.begin());
    if (place == all.size() || Corvane::TypeRegistry::type(t->name()) != t) {
      return ::testing::AssertionFailure() << t->name() << " is not registered under its name";
    }
    if (place < last) return ::testing::AssertionFailure() << t->name() << " is registered before the type listed before it";
    last = place;
  }
  return ::testing::AssertionSuccess();
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
