#include "base/text/czech_plural.h"

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


TEST(CzechPlural, RatesAgreeWithTheirRoundedCount) {
  const struct {
    double perSecond;
    const char* text;
  } cases[] = {{0, "0 odečtů/s"},        {0.05, "méně než 1 odečet/s"}, {0.55, "méně než 1 odečet/s"},
               {1, "1 odečet/s"},        {1.4, "1 odečet/s"},           {2, "2 odečty/s"},
               {4.4, "4 odečty/s"},      {4.6, "5 odečtů/s"},          {22, "22 odečtů/s"}};
  for (const auto& c : cases) EXPECT_EQ(CzechRate(c.perSecond, "odečet", "odečty", "odečtů"), QString::fromUtf8(c.text)) << c.perSecond;
}
