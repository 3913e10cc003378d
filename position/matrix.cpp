#include "position/matrix.h"

#include <cmath>
#include <cstdint>
#include <new>

namespace talverin {
namespace {

// Below this a diagonal element or Cholesky pivot counts as zero.
constexpr double kInvertZero = 1e-40;
// Unknowns of the adjustment (X, Y, Z, clock): its A^T A has a fast path.
constexpr int32_t kNormalSize = 4;

// A^T A of an n x 4 matrix into out (4 x 4): the ten products of each row added in
// registers, every element summed from 0 in increasing row as the general loop sums it.
void NormalOfFour(double* const* a, int32_t n, double** out) {
  double s00 = 0.0, s10 = 0.0, s11 = 0.0, s20 = 0.0, s21 = 0.0, s22 = 0.0;
  double s30 = 0.0, s31 = 0.0, s32 = 0.0, s33 = 0.0;
  for (int32_t k = 0; k < n; ++k) {
    const double* row = a[k];
    s00 += row[0] * row[0];
    s10 += row[0] * row[1];
    s11 += row[1] * row[1];
    s20 += row[0] * row[2];
    s21 += row[1] * row[2];
    s22 += row[2] * row[2];
    s30 += row[0] * row[3];
    s31 += row[1] * row[3];
    s32 += row[2] * row[3];
    s33 += row[3] * row[3];
  }
  const double lower[4][4] = {
      {s00, s10, s20, s30}, {s10, s11, s21, s31}, {s20, s21, s22, s32}, {s30, s31, s32, s33}};
  for (int32_t i = 0; i < 4; ++i)
    for (int32_t j = 0; j < 4; ++j) out[i][j] = lower[i][j];
}

}  // namespace

void Matrix::ReleaseRows() {
  if (rows_ != nullptr) {
    for (int32_t r = 0; r < capRows_; ++r) delete[] rows_[r];
    delete[] rows_;
    rows_ = nullptr;
  }
  liveRows_ = liveColumns_ = 0;
  capRows_ = capColumns_ = capElements_ = 0;
}

int32_t Matrix::Resize(int32_t rows, int32_t columns) {
  if (rows < 0 || columns < 0) return 1;
  if (rows <= capRows_ && columns <= capColumns_) {
    liveRows_ = rows;
    liveColumns_ = columns;
    return 0;
  }
  const int64_t elements = static_cast<int64_t>(rows) * columns;
  if (elements > INT32_MAX) return 1;  // capacity elements is an int32

  state_ = 1;
  ReleaseRows();
  double** fresh = new (std::nothrow) double*[rows > 0 ? rows : 1];
  if (fresh == nullptr) return 1;
  // capRows_ counts the rows obtained so far, so ReleaseRows frees exactly those.
  rows_ = fresh;
  for (int32_t r = 0; r < rows; ++r) {
    rows_[r] = new (std::nothrow) double[columns > 0 ? columns : 1]();
    if (rows_[r] == nullptr) {
      ReleaseRows();
      return 1;
    }
    capRows_ = r + 1;
  }
  capRows_ = rows;
  capColumns_ = columns;
  capElements_ = static_cast<int32_t>(elements);
  liveRows_ = rows;
  liveColumns_ = columns;
  state_ = 0;
  return 0;
}

void Matrix::Zero() {
  if (rows_ == nullptr) return;
  for (int32_t r = 0; r < liveRows_; ++r)
    for (int32_t c = 0; c < liveColumns_; ++c) rows_[r][c] = 0.0;
}

void Matrix::Free() { ReleaseRows(); }

void Matrix::Assign(const Matrix& other) {
  if (other.rows_ == nullptr || &other == this) return;
  if (Resize(other.liveRows_, other.liveColumns_) != 0) return;
  for (int32_t r = 0; r < liveRows_; ++r)
    for (int32_t c = 0; c < liveColumns_; ++c) rows_[r][c] = other.rows_[r][c];
}

int32_t Matrix::Scale(double s) {
  if (rows_ == nullptr) return 0;
  for (int32_t r = 0; r < liveRows_; ++r)
    for (int32_t c = 0; c < liveColumns_; ++c) rows_[r][c] *= s;
  return 0;
}

int32_t Matrix::SetDiagonal(double diagonal, double offDiagonal) {
  if (liveRows_ != liveColumns_) return 1;
  if (rows_ == nullptr) return 0;
  for (int32_t r = 0; r < liveRows_; ++r)
    for (int32_t c = 0; c < liveColumns_; ++c) rows_[r][c] = (r == c) ? diagonal : offDiagonal;
  return 0;
}

int32_t Matrix::MultiplyTransposed(const Matrix& a, const Matrix& b) {
  // Resizing and zeroing this would overwrite an operand before it is read.
  if (&a == this || &b == this) return 1;
  if (a.liveRows_ != b.liveRows_) return 1;
  if (Resize(a.liveColumns_, b.liveColumns_) != 0) return 1;
  if (rows_ == nullptr) return 0;
  // Each element sums from 0 in increasing k, as a zeroed matrix summed in place would. For
  // A^T A the element (j, i) is (i, j): each product has the same two factors.
  const bool symmetric = &a == &b;
  if (symmetric && a.liveColumns_ == kNormalSize) {
    NormalOfFour(a.rows_, a.liveRows_, rows_);
    return 0;
  }
  for (int32_t i = 0; i < a.liveColumns_; ++i) {
    for (int32_t j = 0; j < b.liveColumns_ && (!symmetric || j <= i); ++j) {
      double sum = 0.0;
      for (int32_t k = 0; k < a.liveRows_; ++k) sum += b.rows_[k][j] * a.rows_[k][i];
      rows_[i][j] = sum;
    }
  }
  if (symmetric) {
    for (int32_t i = 0; i < liveRows_; ++i)
      for (int32_t j = i + 1; j < liveColumns_; ++j) rows_[i][j] = rows_[j][i];
  }
  return 0;
}

// Cholesky A = L L^T in the lower triangle, L^-1 in place, then (L^-1)^T L^-1 and the
// mirror. Every sum runs in increasing index and subtracts or adds term by term in place:
// the adjustment's results depend on this order to the last bit.
int32_t Matrix::Invert(int32_t n) {
  if ((n > 0 && n > liveRows_) || liveRows_ != liveColumns_) return 1;
  if (rows_ == nullptr) return 2;
  if (n <= 0) n = liveRows_;
  double** a = rows_;

  for (int32_t i = 0; i < n; ++i) {
    if (a[i][i] < 0.0) return 3;
    if (std::fabs(a[i][i]) < kInvertZero) return 4;
  }

  for (int32_t j = 0; j < n; ++j) {
    for (int32_t k = 0; k < j; ++k) a[j][j] -= a[j][k] * a[j][k];
    if (a[j][j] < 0.0) return 5;
    a[j][j] = std::sqrt(a[j][j]);
    for (int32_t i = j + 1; i < n; ++i) {
      for (int32_t k = 0; k < j; ++k) a[i][j] -= a[j][k] * a[i][k];
      // The last column has no row below it, so its pivot is never tested here.
      if (std::fabs(a[j][j]) < kInvertZero) return 6;
      a[i][j] = a[i][j] / a[j][j];
    }
  }

  // L^-1: a(i, i) for i > j is still L's diagonal while column j is computed.
  for (int32_t j = 0; j < n; ++j) {
    a[j][j] = 1.0 / a[j][j];
    for (int32_t i = j + 1; i < n; ++i) {
      a[i][j] = -a[j][j] * a[i][j] / a[i][i];
      for (int32_t k = j + 1; k < i; ++k) a[i][j] -= a[k][j] * a[i][k] / a[i][i];
    }
  }

  // (L^-1)^T L^-1 into the lower triangle: rows below i and columns right of r still hold
  // L^-1 when a(i, r) is formed.
  for (int32_t r = 0; r < n; ++r) {
    for (int32_t i = r; i < n; ++i) {
      a[i][r] = a[i][i] * a[i][r];
      for (int32_t m = i + 1; m < n; ++m) a[i][r] += a[m][r] * a[m][i];
    }
  }

  for (int32_t i = 1; i < n; ++i)
    for (int32_t j = 0; j < i; ++j) a[j][i] = a[i][j];
  return 0;
}

int32_t Vector::Resize(int32_t n) {
  if (n < 0) return 1;
  if (n <= capacity_) {
    size_ = n;
    return 0;
  }
  state_ = 1;
  Free();
  data_ = new (std::nothrow) double[n]();
  if (data_ == nullptr) return 1;
  size_ = capacity_ = n;
  state_ = 0;
  return 0;
}

void Vector::Zero() {
  for (int32_t i = 0; i < capacity_; ++i) data_[i] = 0.0;
}

void Vector::Free() {
  delete[] data_;
  data_ = nullptr;
  size_ = capacity_ = 0;
}

int32_t Vector::MultiplyVector(const Matrix& a, const Vector& x, int32_t transposed) {
  if (&x == this) return 1;  // zeroing the result would clear x
  const int32_t rows = a.rows();
  const int32_t columns = a.columns();
  if (transposed != 0) {
    if (rows != x.size_) return 1;
    if (Resize(columns) != 0) return 1;
    Zero();
    for (int32_t j = 0; j < columns; ++j) {
      double sum = 0.0;  // from 0 in increasing i, as the zeroed element summed in place
      for (int32_t i = 0; i < rows; ++i) sum += a.at(i, j) * x.data_[i];
      data_[j] = sum;
    }
  } else {
    if (columns != x.size_) return 1;
    if (Resize(rows) != 0) return 1;
    Zero();
    for (int32_t i = 0; i < rows; ++i) {
      double sum = 0.0;
      for (int32_t j = 0; j < columns; ++j) sum += a.at(i, j) * x.data_[j];
      data_[i] = sum;
    }
  }
  return 0;
}

}  // namespace talverin
