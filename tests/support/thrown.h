#pragma once

#include <functional>
#include <stdexcept>

// The error of the given kind that action threw. A test expecting one fails on the logic_error
// when nothing was thrown.
template <typename Error>
Error thrown(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& error) {
    return error;
  }
  throw std::logic_error("nothing thrown");
}
