#pragma once
// What a fuzz target calls when a property breaks: one line naming it, then an abort that
// libFuzzer (and the corpus replay under the sanitizers) records as a crash.
#include <cstdio>
#include <cstdlib>

inline void FuzzCheck(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "fuzz property broken: %s\n", property);
  std::abort();
}
