// Small dense matrix and vector of doubles for the epoch least-squares adjustment:
// resizing that keeps storage when it fits, zeroing, copying, scaling, A^T B, matrix-vector
// products and the in-place Cholesky inversion of a symmetric positive-definite matrix.
// Rows are allocated separately (new (std::nothrow)); new storage is cleared to 0.
// Results: 0 success, non-zero failure; nothing prints, throws or exits. Element access
// through at() / operator[] is unchecked: callers stay within the live size.
#pragma once

#include <cstdint>

namespace talverin {

class Matrix {
 public:
  Matrix() = default;
  ~Matrix() { Free(); }
  Matrix(const Matrix&) = delete;
  Matrix& operator=(const Matrix&) = delete;

  // 0, or 1 when storage cannot be obtained (also for a negative size or more than
  // INT32_MAX elements; the matrix is then left as it was).
  [[nodiscard]] int32_t Resize(int32_t rows, int32_t columns);
  void Zero();
  void Free();
  void Assign(const Matrix& other);
  int32_t Scale(double s);
  // 0, or 1 when the live size is not square.
  int32_t SetDiagonal(double diagonal, double offDiagonal);
  // this = A^T B: 0, or 1 on a row-count mismatch, an aliased operand or a failed Resize.
  [[nodiscard]] int32_t MultiplyTransposed(const Matrix& a, const Matrix& b);
  // In-place inverse of the leading n x n block (n <= 0: the whole matrix) of a symmetric
  // positive-definite matrix; only the lower triangle is read. 0, or
  // 1 n > rows or not square, 2 no storage, 3 negative diagonal, 4 |diagonal| < 1e-40,
  // 5 negative pivot, 6 |pivot| < 1e-40 in a column with rows below it.
  [[nodiscard]] int32_t Invert(int32_t n);

  double& at(int32_t r, int32_t c) { return rows_[r][c]; }
  double at(int32_t r, int32_t c) const { return rows_[r][c]; }
  bool hasStorage() const { return rows_ != nullptr; }
  int32_t rows() const { return liveRows_; }
  int32_t columns() const { return liveColumns_; }
  int32_t capacityRows() const { return capRows_; }
  int32_t capacityColumns() const { return capColumns_; }
  int32_t capacityElements() const { return capElements_; }
  int32_t state() const { return state_; }

 private:
  void ReleaseRows();

  int32_t state_ = 0;        // 1 while storage is replaced and after a failed replacement
  double** rows_ = nullptr;  // capRows_ separately allocated rows of capColumns_ doubles
  int32_t liveRows_ = 0;
  int32_t liveColumns_ = 0;
  int32_t capRows_ = 0;
  int32_t capColumns_ = 0;
  int32_t capElements_ = 0;
};

class Vector {
 public:
  Vector() = default;
  ~Vector() { Free(); }
  Vector(const Vector&) = delete;
  Vector& operator=(const Vector&) = delete;

  // 0, or 1 when storage cannot be obtained (a negative size leaves the vector as it was).
  [[nodiscard]] int32_t Resize(int32_t n);
  void Zero();  // the whole capacity
  void Free();
  // transposed != 0: this = A^T x (requires A.rows == x.size); else this = A x (requires
  // A.columns == x.size). 0, or 1 on a size mismatch, x aliasing this, or a failed Resize.
  [[nodiscard]] int32_t MultiplyVector(const Matrix& a, const Vector& x, int32_t transposed);

  double& operator[](int32_t i) { return data_[i]; }
  double operator[](int32_t i) const { return data_[i]; }
  bool hasStorage() const { return data_ != nullptr; }
  int32_t size() const { return size_; }
  int32_t capacity() const { return capacity_; }
  int32_t state() const { return state_; }

 private:
  int32_t state_ = 0;
  double* data_ = nullptr;
  int32_t size_ = 0;
  int32_t capacity_ = 0;
};

}  // namespace talverin
