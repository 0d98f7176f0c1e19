#include "base/czech_plural.h"

#include <gtest/gtest.h>

TEST(CzechPlural, FormFollowsTheCount) {
  const struct {
    qint64 n;
    const char* text;
  } cases[] = {{0, "0 bajtů"},    {1, "1 bajt"},     {2, "2 bajty"},     {4, "4 bajty"},
               {5, "5 bajtů"},    {11, "11 bajtů"},  {21, "21 bajtů"},   {22, "22 bajtů"},
               {25, "25 bajtů"},  {100, "100 bajtů"}, {101, "101 bajtů"}, {102, "102 bajtů"},
               {-1, "-1 bajt"},   {-3, "-3 bajty"}};
  for (const auto& c : cases)
    EXPECT_EQ(CzechCount(c.n, "bajt", "bajty", "bajtů"), QString::fromUtf8(c.text)) << c.n;
}

