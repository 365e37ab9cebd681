// Rounding to the nearest integer with halves to the even neighbour, which
// sizes and weights rely on, including values no integer can hold.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "vcl/System.h"

namespace {

TEST(System, RoundHalfEven) {
  struct {
    long double In;
    int32_t Out;
  } cases[] = {{0.5L, 0},          {1.5L, 2},         {2.5L, 2},         {-0.5L, 0},        {-1.5L, -2},
               {-2.5L, -2},        {2.4999L, 2},      {2.5001L, 3},      {400.5L, 400},     {401.5L, 402},
               {-7.0L, -7},        {1e12L, INT32_MAX}, {-1e12L, INT32_MIN}, {2147483647.4L, INT32_MAX},
               {std::numeric_limits<long double>::infinity(), INT32_MAX}, {NAN, 0}};
  for (const auto& c : cases) EXPECT_EQ(RoundHalfEven(c.In), c.Out) << double(c.In);
}

}  // namespace
