#pragma once

#include <cmath>
#include <vector>

namespace diarith::testing {

// A between-class covariance diagonal shaped like a real one: 128 descending positive values that
// begin and end with the values of the projection the engine ships with; the middle is a
// geometric fill.
inline std::vector<float> pldaBetweenClassCovariance() {
    std::vector<float> table{25.882383f, 10.646547f, 7.0974965f, 5.7084212f, 5.2707186f};
    const std::vector<float> tail{0.60488039f, 0.60145658f, 0.58401102f, 0.56960535f};
    const double first = 5.2707186, last = 0.60488039;
    const int gaps = 128 - 5 - 4 + 1;
    for (int i = 1; i < gaps; ++i)
        table.push_back(static_cast<float>(first * std::pow(last / first, static_cast<double>(i) / gaps)));
    table.insert(table.end(), tail.begin(), tail.end());
    return table;
}

} // namespace diarith::testing
