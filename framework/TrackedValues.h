// Tag values and status words that put their tag on the instance's change list when set.
#pragma once
#include <cstdint>
#include <vector>

#include "driver/Variant.h"

namespace korvel {

// The change list of an instance: positions of the tags whose value or status was set since the
// last report, each at most once. The poll's report walks only these, so an idle poll costs the
// same over ten tags or ten thousand.
struct TChangeMark {
  std::vector<int32_t>* list = nullptr;  // the instance's list; null until the tag is in TagList
  int32_t index = -1;
  bool queued = false;
  void mark() {
    if (list != nullptr && !queued) {
      queued = true;
      list->push_back(index);  // reserved for the whole table: never allocates while polling
    }
  }
};

// A tag value that puts its tag on the change list whenever it is assigned.
class TTrackedValue : public Variant {
 public:
  explicit TTrackedValue(TChangeMark* mark) : mark_(mark) {}
  TTrackedValue(const TTrackedValue& o) : Variant(o) {}  // a copy tracks nothing
  TTrackedValue& operator=(const TTrackedValue& o) { return *this = static_cast<const Variant&>(o); }
  TTrackedValue& operator=(const Variant& v) {
    Variant::operator=(v);
    if (mark_ != nullptr) mark_->mark();
    return *this;
  }
  TTrackedValue& operator=(Variant&& v) {
    Variant::operator=(std::move(v));
    if (mark_ != nullptr) mark_->mark();
    return *this;
  }
  // Sets a text that is mostly the one already held (a link status, set on every exchange): an
  // equal text changes nothing and stays off the change list, as a report would skip it anyway,
  // and a new one reuses the storage of the old.
  void setText(std::string_view text) {
    if (holdsText(text)) return;
    Variant::setText(text);
    if (mark_ != nullptr) mark_->mark();
  }

 private:
  TChangeMark* mark_ = nullptr;
};

// A status word that puts its tag on the change list whenever it is set.
class TTrackedStatus {
 public:
  explicit TTrackedStatus(TChangeMark* mark) : mark_(mark) {}
  TTrackedStatus(const TTrackedStatus& o) : word_(o.word_) {}
  TTrackedStatus& operator=(const TTrackedStatus& o) { return *this = o.word_; }
  TTrackedStatus& operator=(uint32_t w) {
    word_ = w;
    if (mark_ != nullptr) mark_->mark();
    return *this;
  }
  TTrackedStatus& operator|=(uint32_t w) { return *this = word_ | w; }
  TTrackedStatus& operator&=(uint32_t w) { return *this = word_ & w; }
  operator uint32_t() const { return word_; }  // NOLINT: reads as the plain word

 private:
  uint32_t word_ = 0;
  TChangeMark* mark_ = nullptr;
};

}  // namespace korvel
