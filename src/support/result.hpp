#pragma once
// Error propagation for std::expected results.

#include <expected>
#include <utility>

// Evaluates a std::expected expression; on error returns it from the enclosing function (converted to
// the caller's error type), otherwise yields the value. Works for expected<void, E> too.
#define TESSEL_TRY(expr)                                                        \
  __extension__({                                                               \
    auto tessel_try_result_ = (expr);                                           \
    if (!tessel_try_result_.has_value()) [[unlikely]]                           \
      return std::unexpected(std::move(tessel_try_result_).error());            \
    std::move(tessel_try_result_).value();                                      \
  })
