// Float samples to bytes and back: exact, and the same on every build.
#include "filter/sample_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// The reference: clamp to 0 .. 1, times 255 in double precision, truncate.
int reference(float v) {
  if (std::isnan(v)) return 0;
  double d = v;
  if (d > 1.0) d = 1.0;
  if (d < 0.0) d = 0.0;
  return static_cast<int>(d * 255.0);
}

float fromBits(std::uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

TEST(SampleConvert, WorkedExamples) {
  EXPECT_EQ(sampleToByte(1.0f), 255);
  EXPECT_EQ(sampleToByte(0.5f), 127);
  EXPECT_EQ(sampleToByte(0.999f), 254);
  EXPECT_EQ(sampleToByte(2.0f), 255);
  EXPECT_EQ(sampleToByte(1.5f), 255);
  EXPECT_EQ(sampleToByte(-0.2f), 0);
  EXPECT_EQ(sampleToByte(-1.0f), 0);
  EXPECT_EQ(sampleToByte(0.0f), 0);
}

TEST(SampleConvert, NotNumbersInfinitiesAndHugeValuesSaturate) {
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(sampleToByte(std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_EQ(sampleToByte(-std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_EQ(sampleToByte(fromBits(0x7f800001u)), 0) << "signalling NaN";
  EXPECT_EQ(sampleToByte(inf), 255);
  EXPECT_EQ(sampleToByte(-inf), 0);
  EXPECT_EQ(sampleToByte(-0.0f), 0);
  EXPECT_EQ(sampleToByte(std::numeric_limits<float>::max()), 255);
  EXPECT_EQ(sampleToByte(-std::numeric_limits<float>::max()), 0);
  EXPECT_EQ(sampleToByte(1e10f), 255) << "v * 255 beyond the int range";
  EXPECT_EQ(sampleToByte(-1e10f), 0);
  EXPECT_EQ(sampleToByte(std::numeric_limits<float>::denorm_min()), 0);
}

TEST(SampleConvert, MatchesTheDoublePrecisionFormulaAtEveryBoundary) {
  // Every b / 255 as a float and its neighbours, where truncation flips.
  for (int b = 0; b <= 255; ++b) {
    float v = static_cast<float>(b / 255.0);
    float probes[] = {v, std::nextafter(v, 2.0f), std::nextafter(v, -2.0f),
                      std::nextafter(std::nextafter(v, -2.0f), -2.0f),
                      static_cast<float>((b + 0.5) / 255.0)};
    for (float p : probes) ASSERT_EQ(sampleToByte(p), reference(p)) << p << " near " << b;
  }
  // A sweep over the bit patterns of [0, 1] and a few around it.
  for (std::uint32_t u = 0; u <= 0x3f800010u; u += 997) {
    float p = fromBits(u);
    ASSERT_EQ(sampleToByte(p), reference(p)) << u;
    ASSERT_EQ(sampleToByte(-p), 0) << u;
  }
}

// The row conversion (four at a time where the build can) against the
// single-sample one: every boundary b / 255 and its neighbours, specials,
// and a sweep over all bit patterns, both signs, at every offset in a row.
TEST(SampleConvert, RowsConvertAsSingleSamplesDo) {
  std::vector<float> row;
  for (int b = 0; b <= 255; ++b) {
    float v = static_cast<float>(b / 255.0);
    row.insert(row.end(), {v, std::nextafter(v, 2.0f), std::nextafter(v, -2.0f)});
  }
  const float inf = std::numeric_limits<float>::infinity();
  row.insert(row.end(), {inf, -inf, std::numeric_limits<float>::quiet_NaN(),
                         -std::numeric_limits<float>::quiet_NaN(), fromBits(0x7f800001u), -0.0f,
                         std::numeric_limits<float>::denorm_min(), 1e10f, -1e10f});
  for (std::uint64_t u = 0; u <= 0xffffffffu; u += 65521) row.push_back(fromBits(u));
  for (std::size_t offset = 0; offset < 16; ++offset) {
    std::vector<std::uint8_t> out(row.size() + 1, 0xa5);
    samplesToBytes(row.data() + offset, out.data(), row.size() - offset);
    for (std::size_t i = 0; i + offset < row.size(); ++i) {
      ASSERT_EQ(out[i], sampleToByte(row[i + offset])) << "sample " << i + offset;
    }
    EXPECT_EQ(out[row.size() - offset], 0xa5) << "wrote past the row";
  }
}

TEST(SampleConvert, ByteToFloatIsTheNearestFloatOfBOver255) {
  for (int b = 0; b <= 255; ++b) {
    float expected = static_cast<float>(b / 255.0);
    float got = byteToSample(static_cast<std::uint8_t>(b));
    EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << b;
  }
  EXPECT_EQ(byteToSample(0), 0.0f);
  EXPECT_EQ(byteToSample(255), 1.0f);
}

TEST(SampleConvert, EveryByteSurvivesTheRoundTrip) {
  for (int b = 0; b <= 255; ++b) EXPECT_EQ(sampleToByte(byteToSample(b)), b) << b;
}

}  // namespace
