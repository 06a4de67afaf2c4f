// An in-memory line served by the module simulator, on the driver's (test) clock: a request is
// answered at once by the simulator's frame function, and each answer byte arrives at the tick its
// delays give it. No pseudo-terminal, no thread, no sleeping: a test moves the clock by hand.
#pragma once
#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/text.h"
#include "protocol/Line.h"
#include "sim/module_sim.h"

namespace korvel::test {

class MemoryLine final : public Line {
 public:
  struct Byte {
    uint64_t at;
    char c;
  };
  // What the test can change while the driver owns the line, and the wire itself: a line opened
  // again on the same control (a host's reload) meets the bytes still on their way.
  struct Control {
    bool present = true;  // false: the device is gone (opens and sends fail) until it is back
    int sends = 0;        // requests that went out
    std::string device;   // the device path the line gives the driver ("": none to share)
    // Bytes the wire carries per millisecond: 0 delivers an answer in one piece, n > 0 spreads it
    // as a serial line at about n x 10 kbaud does, so a read can find part of it.
    uint32_t bytes_per_ms = 0;
    // Told every reply the simulator makes, with the tick of the request.
    std::function<void(const sim::Reply&, uint64_t)> on_reply;
    uint64_t gone_until = 0;
    uint64_t held_until = 0;  // the line takes nothing until then: sends fail
    std::deque<Byte> on_way;
  };

  MemoryLine(sim::ModuleSim& sim, std::shared_ptr<Control> control)
      : sim_(sim), control_(std::move(control)) {}

  bool open(const PDB& block, std::string& message) override {
    const std::string name = "Com" + std::to_string(block.ComPort + 1);
    open_ = Present(plat::tick_ms());
    message = name + (open_ ? GBK("打开成功") : GBK("不存在或被其它程序占用！"));
    return open_;
  }
  bool is_open() const override { return open_ && Present(plat::tick_ms()); }
  std::string device() const override { return control_->device; }

  bool send(const std::string& text) override {
    const uint64_t now = plat::tick_ms();
    // What has arrived is discarded; bytes still on their way arrive later, as on a real wire.
    Arrive(now);
    received_.clear();
    if (!Present(now)) {
      open_ = false;
      return false;
    }
    open_ = true;
    if (now < control_->held_until) return false;  // nothing of it leaves
    ++control_->sends;
    for (const sim::Reply& r : sim_.feed(std::string_view(text).substr(0, 255), now)) {
      if (control_->on_reply) control_->on_reply(r, now);
      if (r.vanish_ms > 0) {  // the line goes away for a while, and this request's answer with it
        control_->gone_until = now + r.vanish_ms;
        continue;
      }
      if (r.hold_ms > 0) {  // the line stops taking the master's bytes
        control_->held_until = now + r.hold_ms;
        continue;
      }
      const uint32_t pace = control_->bytes_per_ms;
      uint64_t at = now + r.delay_ms;
      for (size_t i = 0; i < r.bytes.size(); ++i) {
        if (i > 0) at += r.gap_ms > 0 ? r.gap_ms : pace > 0 && i % pace == 0 ? 1 : 0;
        Queue(at, r.bytes[i]);
      }
      at += r.after_ms;
      for (size_t i = 0; i < r.after.size(); ++i) Queue(at + (pace > 0 ? i / pace : 0), r.after[i]);
      sim_.record_sent(r, now);
    }
    return true;
  }

  const std::string& received() override {
    Arrive(plat::tick_ms());
    return received_;
  }

 private:
  bool Present(uint64_t now) const { return control_->present && now >= control_->gone_until; }
  void Queue(uint64_t at, char c) {
    // Kept in arrival order; bytes of one tick keep the order they were sent in.
    std::deque<Byte>& on_way = control_->on_way;
    auto pos = std::upper_bound(on_way.begin(), on_way.end(), at,
                                [](uint64_t t, const Byte& b) { return t < b.at; });
    on_way.insert(pos, Byte{at, c});
  }
  void Arrive(uint64_t now) {
    std::deque<Byte>& on_way = control_->on_way;
    while (!on_way.empty() && on_way.front().at <= now) {
      received_ += on_way.front().c;
      on_way.pop_front();
    }
  }

  sim::ModuleSim& sim_;
  std::shared_ptr<Control> control_;
  bool open_ = false;
  std::string received_;
};

}  // namespace korvel::test
