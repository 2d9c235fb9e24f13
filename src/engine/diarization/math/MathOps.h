#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Dense matrix and vector operations on 32-bit floats for the clustering stages. Stateless; results
// are new values and inputs are never changed.
//
// A matrix is a list of rows; its column count is the length of the first row. The operations that
// read a matrix as a block (transpose, flatten, product, index of maximum) throw
// DiarithError::invalidConfiguration naming the input when its rows differ in length. The row-wise
// ones (softmax) and the pairwise ones (cosine distances) take rows of any length.
namespace diarith::MathOps {

using Matrix = std::vector<std::vector<float>>;

// A matrix as one row-major block.
struct FlatMatrix {
    std::vector<float> flatMatrix;
    std::size_t rows = 0;
    std::size_t cols = 0;
};

// Row by row: exp(x − row maximum) / row sum, summed in index order. Empty rows stay empty.
Matrix softmax(const Matrix& matrix);
// max + ln Σ exp(x − max); minus infinity for an empty vector.
float logSumExp(const std::vector<float>& values);
// result[j][i] = matrix[i][j]; an empty matrix or an empty first row gives an empty matrix.
Matrix matrixTranspose(const Matrix& matrix);
// All rows concatenated; an empty matrix gives 0 rows and 0 columns.
FlatMatrix flatten(const Matrix& matrix);
// `rows` rows of `cols` values from the front of `values` (the rest is ignored). Throws
// invalidConfiguration for a negative count or too few values.
Matrix unflatten(const std::vector<float>& values, std::int64_t rows, std::int64_t cols);
// The product A·B, row-major. When A's column count differs from B's row count: empty, 0 × 0.
FlatMatrix matrixMultiply(const Matrix& a, const Matrix& b);
// One row per embedding, one column per centroid: 1 − cosine similarity, kept within [0, 2]. A pair
// of different lengths, an empty embedding or a zero vector gives 1.
Matrix cosineDistanceMatrix(const Matrix& embeddings, const Matrix& centroids);
// Axis 0: per column, the row holding its largest value; any other axis: per row, the column of
// its largest value. The first of equal maxima wins and a NaN wins only in first place. An empty
// matrix or an empty first row gives an empty list.
std::vector<std::int64_t> indexOfMaximum(const Matrix& matrix, int axis);

} // namespace diarith::MathOps
