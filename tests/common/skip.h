// A test that cannot run because something it needs is not installed: skipped on a developer's
// machine, a failure in CI (CI=true), where a skip would pass for a success.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#define KORVEL_SKIP_MISSING(what)                                                                           \
  do {                                                                                                      \
    const char* korvel_ci_ = std::getenv("CI");                                                             \
    if (korvel_ci_ != nullptr && std::strcmp(korvel_ci_, "true") == 0) FAIL() << "missing in CI: " << what; \
    GTEST_SKIP() << "missing: " << what;                                                                    \
  } while (0)
