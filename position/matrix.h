// Small dense matrix and vector of doubles for the epoch least-squares adjustment:
// resizing that keeps storage when it fits, zeroing, copying, scaling, A^T B, matrix-vector
// products and the in-place Cholesky inversion of a symmetric positive-definite matrix.
// Rows are allocated separately. Results: 0 success, non-zero failure; nothing prints.
#pragma once

#include <cstdint>

namespace talverin {

class Matrix {
 public:
  Matrix() = default;
  ~Matrix() { Free(); }
  Matrix(const Matrix&) = delete;
  Matrix& operator=(const Matrix&) = delete;

  int32_t Resize(int32_t rows, int32_t columns);
  void Zero();
  void Free();
  void Assign(const Matrix& other);
  int32_t Scale(double s);
  int32_t SetDiagonal(double diagonal, double offDiagonal);
  int32_t MultiplyTransposed(const Matrix& a, const Matrix& b);  // this = A^T B
  int32_t Invert(int32_t n);  // 0, or 1..6 as documented in matrix.cpp

  double& at(int32_t r, int32_t c) { return rows_[r][c]; }
  double at(int32_t r, int32_t c) const { return rows_[r][c]; }
  bool hasStorage() const { return rows_ != nullptr; }
  int32_t rows() const { return liveRows_; }
  int32_t columns() const { return liveColumns_; }
  int32_t capacityRows() const { return capRows_; }
  int32_t capacityColumns() const { return capColumns_; }
  int32_t state() const { return state_; }

 private:
  int32_t state_ = 0;
  double** rows_ = nullptr;
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

  int32_t Resize(int32_t n);
  void Zero();
  void Free();
  // transposed != 0: this = A^T x; else this = A x.
  int32_t MultiplyVector(const Matrix& a, const Vector& x, int32_t transposed);

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
