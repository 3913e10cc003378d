// Matrix and Vector of the adjustment: resizing within and beyond the storage, products and
// inverses against hand-computed values, and refused operations.
#include "position/matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "tests/support/test_support.h"

namespace talverin {
namespace {

using Rows = std::vector<std::vector<double>>;

// Fills a matrix from rows of values; fails the test when Resize fails.
void Fill(Matrix* m, const Rows& values) {
  ASSERT_EQ(0,
            m->Resize(static_cast<int32_t>(values.size()), static_cast<int32_t>(values[0].size())));
  for (int32_t r = 0; r < m->rows(); ++r)
    for (int32_t c = 0; c < m->columns(); ++c) m->at(r, c) = values[r][c];
}

// The live part of a matrix, row by row.
Rows Contents(const Matrix& m) {
  Rows out(m.rows(), std::vector<double>(m.columns()));
  for (int32_t r = 0; r < m.rows(); ++r)
    for (int32_t c = 0; c < m.columns(); ++c) out[r][c] = m.at(r, c);
  return out;
}

// Within the capacity the storage (and what it holds) stays and Zero clears the live part
// only; impossible sizes (2^32 elements do not fit the int32 capacity) fail and leave the
// matrix; beyond the capacity, new storage, cleared. A vector's Zero clears its whole
// capacity.
TEST(MatrixResize, KeepsStorageWithinCapacityAndReallocatesClearedBeyondIt) {
  Matrix m;
  ASSERT_EQ(0, m.Resize(24, 4));
  for (int32_t i = 0; i < 96; ++i) m.at(i / 4, i % 4) = i;
  ASSERT_EQ(0, m.Resize(5, 3));
  m.Zero();
  ASSERT_EQ(0, m.Resize(24, 4));
  for (int32_t i = 0; i < 96; ++i) ASSERT_EQ((i / 4 < 5 && i % 4 < 3) ? 0 : i, m.at(i / 4, i % 4));
  EXPECT_FIELDS(FIELD_IS(m.Resize(-1, 2), 1), FIELD_IS(m.Resize(2, -5), 1),
                FIELD_IS(m.Resize(65536, 65536), 1), FIELD_IS(m.rows(), 24),
                FIELD_IS(m.at(23, 3), 95.0));
  ASSERT_EQ(0, m.Resize(5, 6));  // fewer rows, more columns than the capacity
  EXPECT_FIELDS(FIELD_IS(m.capacityColumns(), 6), FIELD_IS(m.capacityElements(), 30),
                FIELD_IS(m.state(), 0));
  EXPECT_EQ(Rows(5, std::vector<double>(6, 0.0)), Contents(m));

  Vector v;
  ASSERT_EQ(0, v.Resize(5));
  v[4] = 4.5;
  ASSERT_EQ(0, v.Resize(2));
  v.Zero();
  EXPECT_FIELDS(FIELD_IS(v.Resize(-1), 1), FIELD_IS(v.size(), 2), FIELD_IS(v.Resize(5), 0));
  ASSERT_EQ(v.size(), 5);
  EXPECT_EQ(0.0, v[4]);
  ASSERT_EQ(0, v.Resize(9));
  EXPECT_FIELDS(FIELD_IS(v.capacity(), 9), FIELD_IS(v.state(), 0), FIELD_IS(v[8], 0.0));
}

// A = [[1,2],[3,4],[5,6]], B = [[7],[8],[9]]: A^T B = [[1*7+3*8+5*9], [2*7+4*8+6*9]] =
// [[76], [100]], A^T A = [[35, 44], [44, 56]]. C = [[1,2,3],[4,5,6]]: C x with x = (1,-1,2)
// is (1-2+6, 4-5+12) = (5, 11); C^T y with y = (2,-3) is (2-12, 4-15, 6-18).
// Assign copies; SetDiagonal fills a square, whose values must not leak into the products.
TEST(MatrixProducts, ByHandAndRefusedForMismatchedOrAliasedOperands) {
  Matrix a, b, c, p;
  Fill(&a, {{1, 2}, {3, 4}, {5, 6}});
  Fill(&b, {{7}, {8}, {9}});
  Fill(&c, {{1, 2, 3}, {4, 5, 6}});
  p.Assign(c);
  EXPECT_EQ((Rows{{1, 2, 3}, {4, 5, 6}}), Contents(p));
  ASSERT_EQ(p.Resize(2, 2), 0);
  ASSERT_EQ(p.SetDiagonal(4.0, -1.0), 0);
  EXPECT_EQ((Rows{{4, -1}, {-1, 4}}), Contents(p));
  ASSERT_EQ(0, p.MultiplyTransposed(a, b));
  EXPECT_EQ((Rows{{76}, {100}}), Contents(p));
  ASSERT_EQ(0, p.MultiplyTransposed(a, a));
  EXPECT_EQ((Rows{{35, 44}, {44, 56}}), Contents(p));
  EXPECT_EQ(1, p.MultiplyTransposed(a, c));  // 3 rows against 2
  EXPECT_EQ(1, a.MultiplyTransposed(a, b));  // aliased
  const struct {
    std::vector<double> x;
    int32_t transposed;
    std::vector<double> product;  // empty: refused, the sizes do not match
  } cases[] = {
      {{1, -1, 2}, 0, {5, 11}}, {{2, -3}, 1, {-10, -11, -12}}, {{1, 2}, 0, {}}, {{1, 2, 3}, 1, {}}};
  Vector x, r;
  ASSERT_EQ(0, r.Resize(8));
  for (int32_t i = 0; i < 8; ++i) r[i] = 99.0;
  for (const auto& row : cases) {
    ASSERT_EQ(0, x.Resize(static_cast<int32_t>(row.x.size())));
    for (int32_t i = 0; i < x.size(); ++i) x[i] = row.x[i];
    EXPECT_EQ(row.product.empty() ? 1 : 0, r.MultiplyVector(c, x, row.transposed));
    EXPECT_TRUE(row.product.empty() || row.product == std::vector<double>(&r[0], &r[0] + r.size()));
  }
  EXPECT_EQ(8, r.capacity());
  EXPECT_EQ(1, x.MultiplyVector(c, x, 0));  // aliased
}

// Inverses whose intermediates (square roots too) are short binary fractions, so exact; and
// the result code of each refusal.
TEST(MatrixInvert, HandComputedInversesAndResultCodes) {
  const struct {
    const char* what;
    Rows values;
    int32_t result;
    Rows inverse;  // empty: not checked
  } cases[] = {
      // A = L L^T with L = [[1,0,0],[2,1,0],[3,4,2]]; L^-1 = [[1,0,0],[-2,1,0],[2.5,-2,0.5]]
      // and A^-1 = L^-T L^-1. Only the lower triangle is read: the upper holds garbage.
      {"3 x 3",
       {{1, 99, -7}, {2, 5, 55}, {3, 10, 29}},
       0,
       {{11.25, -7, 1.25}, {-7, 5, -1}, {1.25, -1, 0.25}}},
      {"not square", {{1, 0, 0}, {0, 1, 0}}, 1, {}},
      {"negative diagonal", {{1, 0}, {0, -2}}, 3, {}},
      {"negative before zero", {{0, 0}, {0, -2}}, 4, {}},
      {"tiny diagonal", {{1e-41, 0}, {0, 1}}, 4, {}},
      {"second pivot negative", {{1, 2}, {2, 1}}, 5, {}},
      {"zero pivot above a row", {{1, 1, 0}, {1, 1, 0}, {0, 0, 1}}, 6, {}},
      // The last column has no row below it, so a zero last pivot is not caught: the
      // result is 0 with infinite elements, which the adjustment must test for.
      {"zero last pivot", {{1, 1}, {1, 1}}, 0, {}},
  };
  for (const auto& c : cases) {
    Matrix m;
    Fill(&m, c.values);
    EXPECT_EQ(c.result, m.Invert(0)) << c.what;
    EXPECT_TRUE(c.inverse.empty() || c.inverse == Contents(m)) << c.what;
    EXPECT_TRUE(c.result != 0 || !c.inverse.empty() || std::isinf(m.at(1, 1))) << c.what;
  }
}

}  // namespace
}  // namespace talverin
