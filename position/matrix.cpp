#include "position/matrix.h"

namespace talverin {

int32_t Matrix::Resize(int32_t, int32_t) { return 1; }
void Matrix::Zero() {}
void Matrix::Free() {}
void Matrix::Assign(const Matrix&) {}
int32_t Matrix::Scale(double) { return 0; }
int32_t Matrix::SetDiagonal(double, double) { return 1; }
int32_t Matrix::MultiplyTransposed(const Matrix&, const Matrix&) { return 1; }
int32_t Matrix::Invert(int32_t) { return 2; }
int32_t Vector::Resize(int32_t) { return 1; }
void Vector::Zero() {}
void Vector::Free() {}
int32_t Vector::MultiplyVector(const Matrix&, const Vector&, int32_t) { return 1; }

}  // namespace talverin
