// Helpers for tests with hostile input: a thread with a small stack (256 KB, as some hosts give
// their threads), so that code recursing on its input crashes the test, and a stopwatch for time
// bounds.
#pragma once

#include <gtest/gtest.h>

#include <pthread.h>

#include <chrono>
#include <functional>
#include <string>

inline void runOnSmallStack(const std::function<void()>& body, std::size_t stackBytes = 256 * 1024) {
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, stackBytes), 0);
  pthread_t thread;
  auto call = [](void* argument) -> void* {
    (*static_cast<const std::function<void()>*>(argument))();
    return nullptr;
  };
  const int created = pthread_create(&thread, &attributes, call, const_cast<std::function<void()>*>(&body));
  pthread_attr_destroy(&attributes);
  ASSERT_EQ(created, 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
}

// Seconds `body` took, by the steady clock.
inline double secondsTaken(const std::function<void()>& body) {
  const auto start = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A text of `depth` nested elements <a>...</a> around `inner`.
inline std::string nestedIn(std::size_t depth, const std::string& inner) {
  std::string text;
  text.reserve(depth * 7 + inner.size());
  for (std::size_t i = 0; i < depth; ++i) text += "<a>";
  text += inner;
  for (std::size_t i = 0; i < depth; ++i) text += "</a>";
  return text;
}
