#include "engine/diarization/math/MathOps.h"

#include "engine/diarization/DiarithError.h"

#include <cmath>
#include <limits>
#include <string>

namespace diarith::MathOps {
namespace {

void requireRectangular(const Matrix& matrix, const char* operation, const char* input) {
    for (const auto& row : matrix) {
        if (row.size() != matrix.front().size()) {
            throw DiarithError::invalidConfiguration(std::string(operation) + ": " + input +
                                                     " has rows of different lengths");
        }
    }
}

float largest(const std::vector<float>& values) {
    if (values.empty())
        return 0.0f;
    float best = values.front();
    for (float v : values)
        best = v > best ? v : best;
    return best;
}

float sumOfSquares(const std::vector<float>& values) {
    float sum = 0.0f;
    for (float v : values)
        sum += v * v;
    return sum;
}

float dot(const std::vector<float>& a, const std::vector<float>& b) {
    float sum = 0.0f;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += a[i] * b[i];
    return sum;
}

float cosineDistance(const std::vector<float>& e, const std::vector<float>& c) {
    if (e.empty() || e.size() != c.size())
        return 1.0f;
    const float product = dot(e, c);
    const float ne = std::sqrt(sumOfSquares(e));
    const float sc = sumOfSquares(c);
    if (!(ne > 0.0f && sc > 0.0f))
        return 1.0f;
    float d = 1.0f - product / (std::sqrt(sc) * ne);
    d = std::isnan(d) ? 2.0f : std::min(d, 2.0f);
    return d >= 0.0f ? d : 0.0f;
}

} // namespace

Matrix softmax(const Matrix& matrix) {
    Matrix result;
    result.reserve(matrix.size());
    for (const auto& row : matrix) {
        const float m = largest(row);
        std::vector<float> e(row.size());
        float sum = 0.0f;
        for (std::size_t i = 0; i < row.size(); ++i) {
            e[i] = std::exp(row[i] - m);
            sum += e[i];
        }
        for (float& v : e)
            v /= sum;
        result.push_back(std::move(e));
    }
    return result;
}

float logSumExp(const std::vector<float>& values) {
    const float m = largest(values);
    float sum = 0.0f;
    for (float v : values)
        sum += std::exp(v - m);
    return m + std::log(sum);
}

Matrix matrixTranspose(const Matrix& matrix) {
    if (matrix.empty() || matrix.front().empty())
        return {};
    requireRectangular(matrix, "matrixTranspose", "the matrix");
    const std::size_t rows = matrix.size();
    const std::size_t cols = matrix.front().size();
    Matrix result(cols, std::vector<float>(rows));
    for (std::size_t i = 0; i < rows; ++i) {
        for (std::size_t j = 0; j < cols; ++j)
            result[j][i] = matrix[i][j];
    }
    return result;
}

FlatMatrix flatten(const Matrix& matrix) {
    if (matrix.empty())
        return {};
    requireRectangular(matrix, "flatten", "the matrix");
    FlatMatrix flat{.flatMatrix = {}, .rows = matrix.size(), .cols = matrix.front().size()};
    flat.flatMatrix.reserve(flat.rows * flat.cols);
    for (const auto& row : matrix)
        flat.flatMatrix.insert(flat.flatMatrix.end(), row.begin(), row.end());
    return flat;
}

Matrix unflatten(const std::vector<float>& values, std::int64_t rows, std::int64_t cols) {
    const auto available = static_cast<std::int64_t>(values.size());
    if (rows < 0 || cols < 0 || (cols > 0 && rows > available / cols)) {
        throw DiarithError::invalidConfiguration("unflatten: " + std::to_string(values.size()) +
                                                 " values cannot fill " + std::to_string(rows) + " rows of " +
                                                 std::to_string(cols) + " columns");
    }
    Matrix result;
    result.reserve(static_cast<std::size_t>(rows));
    for (std::int64_t i = 0; i < rows; ++i) {
        const auto begin = values.begin() + i * cols;
        result.emplace_back(begin, begin + cols);
    }
    return result;
}

FlatMatrix matrixMultiply(const Matrix& a, const Matrix& b) {
    if (!a.empty())
        requireRectangular(a, "matrixMultiply", "matrix A");
    if (!b.empty())
        requireRectangular(b, "matrixMultiply", "matrix B");
    const FlatMatrix fa = flatten(a);
    const FlatMatrix fb = flatten(b);
    if (fa.cols != fb.rows)
        return {};
    FlatMatrix result{
        .flatMatrix = std::vector<float>(fa.rows * fb.cols, 0.0f), .rows = fa.rows, .cols = fb.cols};
    for (std::size_t i = 0; i < fa.rows; ++i) {
        float* out = result.flatMatrix.data() + i * fb.cols;
        for (std::size_t k = 0; k < fa.cols; ++k) {
            const float aik = fa.flatMatrix[i * fa.cols + k];
            const float* bk = fb.flatMatrix.data() + k * fb.cols;
            for (std::size_t j = 0; j < fb.cols; ++j)
                out[j] += aik * bk[j];
        }
    }
    return result;
}

Matrix cosineDistanceMatrix(const Matrix& embeddings, const Matrix& centroids) {
    if (embeddings.empty() || centroids.empty())
        return {};
    Matrix result(embeddings.size(), std::vector<float>(centroids.size()));
    for (std::size_t i = 0; i < embeddings.size(); ++i) {
        for (std::size_t j = 0; j < centroids.size(); ++j)
            result[i][j] = cosineDistance(embeddings[i], centroids[j]);
    }
    return result;
}

std::vector<std::int64_t> indexOfMaximum(const Matrix& matrix, int axis) {
    if (matrix.empty() || matrix.front().empty())
        return {};
    requireRectangular(matrix, "indexOfMaximum", "the matrix");
    std::vector<std::int64_t> indices;
    if (axis == 0) {
        for (std::size_t j = 0; j < matrix.front().size(); ++j) {
            std::size_t best = 0;
            for (std::size_t i = 1; i < matrix.size(); ++i)
                best = matrix[i][j] > matrix[best][j] ? i : best;
            indices.push_back(static_cast<std::int64_t>(best));
        }
        return indices;
    }
    for (const auto& row : matrix) {
        std::size_t best = 0;
        for (std::size_t j = 1; j < row.size(); ++j)
            best = row[j] > row[best] ? j : best;
        indices.push_back(static_cast<std::int64_t>(best));
    }
    return indices;
}

} // namespace diarith::MathOps
