#include "platform/result.h"

#include <utility>

namespace korvel::plat {
namespace {

thread_local std::string t_last_error;

}  // namespace

std::string last_error_text() {
  return t_last_error;
}

void set_last_error_text(std::string text) {
  t_last_error = std::move(text);
}

}  // namespace korvel::plat
