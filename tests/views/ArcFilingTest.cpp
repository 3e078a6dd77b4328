#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "views/ArcFiling.h"

using fm::views::arcToFile;

namespace {

// The degrees written, in walking order.
std::vector<int> degreesFiled(int lastTheta, int theta) {
    const fm::views::ArcToFile arc = arcToFile(lastTheta, theta);
    std::vector<int> out;
    for (int i = 0; i < arc.count; ++i) {
        for (int k = arc.ranges[i].first; k <= arc.ranges[i].last; ++k) {
            out.push_back(k);
        }
    }
    return out;
}

std::vector<int> span(int first, int last) {
    std::vector<int> out;
    for (int k = first; k <= last; ++k) {
        out.push_back(k);
    }
    return out;
}

std::vector<int> join(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(ArcFiling, WithinTheRingPaintsTheArcBetween) {
    EXPECT_EQ(degreesFiled(0, 180), span(0, 180));    // first filing after start
    EXPECT_EQ(degreesFiled(10, 250), span(10, 250));  // 240 degrees: not the short way across 0
    EXPECT_EQ(degreesFiled(250, 10), span(10, 250));
    EXPECT_EQ(degreesFiled(0, 299), span(0, 299));  // d = 299
    EXPECT_EQ(degreesFiled(299, 0), span(0, 299));  // d = -299
    EXPECT_EQ(degreesFiled(42, 42), std::vector<int>{42});
}

TEST(ArcFiling, JumpsOfThreeHundredOrMoreCrossTheSeam) {
    const std::vector<int> seam = join(span(0, 5), span(355, 359));
    EXPECT_EQ(degreesFiled(355, 5), seam);                                // d = -350
    EXPECT_EQ(degreesFiled(5, 355), seam);                                // d = 350
    EXPECT_EQ(degreesFiled(50, 350), join(span(0, 50), span(350, 359)));  // d = 300
    // d = -300 paints the seam-crossing arc too, like +300.
    EXPECT_EQ(degreesFiled(350, 50), join(span(0, 50), span(350, 359)));
    EXPECT_EQ(degreesFiled(0, 359), join(span(0, 0), span(359, 359)));
    EXPECT_EQ(degreesFiled(359, 0), join(span(0, 0), span(359, 359)));
}

TEST(ArcFiling, ThetaWrapsIntoTheRing) {
    EXPECT_EQ(fm::views::wrapDegree(0), 0);
    EXPECT_EQ(fm::views::wrapDegree(359), 359);
    EXPECT_EQ(fm::views::wrapDegree(360), 0);
    EXPECT_EQ(fm::views::wrapDegree(725), 5);
    EXPECT_EQ(fm::views::wrapDegree(-1), 359);
    EXPECT_EQ(fm::views::wrapDegree(-360), 0);
    EXPECT_EQ(fm::views::wrapDegree(std::numeric_limits<int>::min()), 232);
}

TEST(ArcFiling, StoredRadius) {
    EXPECT_EQ(fm::views::storedRadius(0.0), 125.0);
    EXPECT_EQ(fm::views::storedRadius(100.0), 25.0);
    EXPECT_EQ(fm::views::storedRadius(124.5), 0.5);
    EXPECT_EQ(fm::views::storedRadius(125.0), 0.0);
    EXPECT_EQ(fm::views::storedRadius(1000.0), 0.0);
    EXPECT_EQ(fm::views::storedRadius(-10.0), 135.0);
    EXPECT_EQ(fm::views::storedRadius(std::nan("")), 0.0);
    EXPECT_EQ(fm::views::storedRadius(std::numeric_limits<double>::infinity()), 0.0);
}
