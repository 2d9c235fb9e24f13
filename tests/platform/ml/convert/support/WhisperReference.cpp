#include "support/WhisperReference.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <thread>

namespace velnote::testing {

namespace {

constexpr int kFftLength = 400;
constexpr int kHop = 160;
constexpr double kSampleRate = 16000.0;

double hzToMel(double hz) {
    const double linear = 200.0 / 3.0;
    if (hz < 1000.0)
        return hz / linear;
    return 1000.0 / linear + std::log(hz / 1000.0) / (std::log(6.4) / 27.0);
}

double melToHz(double mel) {
    const double linear = 200.0 / 3.0;
    if (mel < 1000.0 / linear)
        return mel * linear;
    return 1000.0 * std::exp((std::log(6.4) / 27.0) * (mel - 1000.0 / linear));
}

// Rows [0, rows) split into `threads` ranges, each run on its own thread.
void parallelRows(int rows, int threads, const std::function<void(int, int)>& body) {
    threads = std::max(1, std::min(threads, rows));
    std::vector<std::jthread> workers;
    for (int t = 0; t < threads; ++t) {
        const int begin = rows * t / threads, end = rows * (t + 1) / threads;
        workers.emplace_back([=] { body(begin, end); });
    }
}

using Matrix = std::vector<double>; // row-major

// y[t][o] = sum_i x[t][i] w[o][i] + b[o]
Matrix linear(const Matrix& x, int rows, int inputs, const Matrix& w, const Matrix* b, int outputs,
              int threads) {
    Matrix y(static_cast<std::size_t>(rows) * outputs);
    parallelRows(rows, threads, [&](int begin, int end) {
        for (int t = begin; t < end; ++t) {
            const double* xt = &x[static_cast<std::size_t>(t) * inputs];
            for (int o = 0; o < outputs; ++o) {
                const double* wo = &w[static_cast<std::size_t>(o) * inputs];
                double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
                int i = 0;
                for (; i + 4 <= inputs; i += 4) {
                    s0 += xt[i] * wo[i];
                    s1 += xt[i + 1] * wo[i + 1];
                    s2 += xt[i + 2] * wo[i + 2];
                    s3 += xt[i + 3] * wo[i + 3];
                }
                for (; i < inputs; ++i)
                    s0 += xt[i] * wo[i];
                y[static_cast<std::size_t>(t) * outputs + o] = (s0 + s1) + (s2 + s3) + (b ? (*b)[o] : 0.0);
            }
        }
    });
    return y;
}

double gelu(double x) {
    return 0.5 * x * (1.0 + std::erf(x / std::numbers::sqrt2));
}

Matrix layerNorm(const Matrix& x, int rows, int width, const Matrix& gain, const Matrix& bias) {
    Matrix y(x.size());
    for (int t = 0; t < rows; ++t) {
        const double* xt = &x[static_cast<std::size_t>(t) * width];
        double mean = 0, variance = 0;
        for (int i = 0; i < width; ++i)
            mean += xt[i];
        mean /= width;
        for (int i = 0; i < width; ++i)
            variance += (xt[i] - mean) * (xt[i] - mean);
        variance /= width;
        const double scale = 1.0 / std::sqrt(variance + 1e-5);
        for (int i = 0; i < width; ++i)
            y[static_cast<std::size_t>(t) * width + i] = (xt[i] - mean) * scale * gain[i] + bias[i];
    }
    return y;
}

// Convolution over time with kernel 3 and padding 1; `x` is [frames][inputs] (time-major),
// the weights [outputs][inputs][3]. Returns [frames / stride][outputs].
Matrix convolve(const Matrix& x, int frames, int inputs, const Matrix& w, const Matrix& b, int outputs,
                int stride, int threads) {
    const int out = frames / stride;
    // Unfold each output frame's three input frames into one row, so the product is `linear`.
    Matrix unfolded(static_cast<std::size_t>(out) * inputs * 3, 0.0);
    for (int t = 0; t < out; ++t) {
        for (int k = 0; k < 3; ++k) {
            const int source = t * stride + k - 1;
            if (source < 0 || source >= frames)
                continue;
            for (int i = 0; i < inputs; ++i)
                unfolded[(static_cast<std::size_t>(t) * inputs + i) * 3 + k] =
                    x[static_cast<std::size_t>(source) * inputs + i];
        }
    }
    return linear(unfolded, out, inputs * 3, w, &b, outputs, threads);
}

Matrix selfAttention(const Matrix& x, int frames, int width, int heads, const ReferenceWeights& weights,
                     const std::string& prefix, int threads) {
    const auto bias = [&](const std::string& name) { return weights(prefix + name + ".bias"); };
    const Matrix q = linear(x, frames, width, weights(prefix + "q_proj.weight"), nullptr, width, threads);
    const Matrix qb = bias("q_proj"), vb = bias("v_proj");
    const Matrix k = linear(x, frames, width, weights(prefix + "k_proj.weight"), nullptr, width, threads);
    const Matrix v = linear(x, frames, width, weights(prefix + "v_proj.weight"), &vb, width, threads);
    const int headWidth = width / heads;
    const double scale = 1.0 / std::sqrt(static_cast<double>(headWidth));
    Matrix mixed(static_cast<std::size_t>(frames) * width, 0.0);
    parallelRows(frames, threads, [&](int begin, int end) {
        std::vector<double> scores(frames);
        for (int t = begin; t < end; ++t) {
            for (int h = 0; h < heads; ++h) {
                const int offset = h * headWidth;
                double top = -INFINITY;
                for (int s = 0; s < frames; ++s) {
                    double dot = 0;
                    for (int i = 0; i < headWidth; ++i)
                        dot += (q[static_cast<std::size_t>(t) * width + offset + i] + qb[offset + i]) *
                               k[static_cast<std::size_t>(s) * width + offset + i];
                    scores[s] = dot * scale;
                    top = std::max(top, scores[s]);
                }
                double total = 0;
                for (auto& score : scores)
                    total += score = std::exp(score - top);
                for (int s = 0; s < frames; ++s) {
                    const double p = scores[s] / total;
                    for (int i = 0; i < headWidth; ++i)
                        mixed[static_cast<std::size_t>(t) * width + offset + i] +=
                            p * v[static_cast<std::size_t>(s) * width + offset + i];
                }
            }
        }
    });
    const Matrix ob = bias("out_proj");
    return linear(mixed, frames, width, weights(prefix + "out_proj.weight"), &ob, width, threads);
}

void addInto(Matrix& x, const Matrix& y) {
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] += y[i];
}

} // namespace

std::vector<double> referenceMelFilters(int melCount, int fftLength) {
    const int bins = fftLength / 2 + 1;
    std::vector<double> edges(melCount + 2);
    const double top = hzToMel(kSampleRate / 2);
    for (int i = 0; i < melCount + 2; ++i)
        edges[i] = melToHz(top * i / (melCount + 1));
    std::vector<double> filters(static_cast<std::size_t>(melCount) * bins);
    for (int m = 0; m < melCount; ++m) {
        for (int k = 0; k < bins; ++k) {
            const double hz = k * kSampleRate / fftLength;
            const double up = (hz - edges[m]) / (edges[m + 1] - edges[m]);
            const double down = (edges[m + 2] - hz) / (edges[m + 2] - edges[m + 1]);
            filters[static_cast<std::size_t>(m) * bins + k] =
                std::max(0.0, std::min(up, down)) * 2.0 / (edges[m + 2] - edges[m]);
        }
    }
    return filters;
}

std::vector<double> referenceLogMel(std::span<const float> samples, int melCount) {
    const int length = static_cast<int>(samples.size());
    const int frames = length / kHop;
    const int bins = kFftLength / 2 + 1;
    const auto padded = [&](int i) { // reflect padding of kFftLength / 2 at both ends
        i -= kFftLength / 2;
        if (i < 0)
            i = -i;
        if (i >= length)
            i = 2 * (length - 1) - i;
        return static_cast<double>(samples[i]);
    };
    std::vector<double> window(kFftLength), cosines(kFftLength), sines(kFftLength);
    for (int n = 0; n < kFftLength; ++n) {
        window[n] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * n / kFftLength);
        cosines[n] = std::cos(2 * std::numbers::pi * n / kFftLength);
        sines[n] = std::sin(2 * std::numbers::pi * n / kFftLength);
    }
    const auto filters = referenceMelFilters(melCount);
    std::vector<double> mel(static_cast<std::size_t>(melCount) * frames);
    parallelRows(frames, static_cast<int>(std::thread::hardware_concurrency()), [&](int begin, int end) {
        std::vector<double> frame(kFftLength), power(bins);
        for (int f = begin; f < end; ++f) {
            for (int n = 0; n < kFftLength; ++n)
                frame[n] = padded(f * kHop + n) * window[n];
            for (int k = 0; k < bins; ++k) {
                double re = 0, im = 0;
                for (int n = 0; n < kFftLength; ++n) {
                    const int phase = (k * n) % kFftLength;
                    re += frame[n] * cosines[phase];
                    im -= frame[n] * sines[phase];
                }
                power[k] = re * re + im * im;
            }
            for (int m = 0; m < melCount; ++m) {
                double sum = 0;
                for (int k = 0; k < bins; ++k)
                    sum += filters[static_cast<std::size_t>(m) * bins + k] * power[k];
                mel[static_cast<std::size_t>(m) * frames + f] = std::log10(std::max(sum, 1e-10));
            }
        }
    });
    const double top = *std::max_element(mel.begin(), mel.end());
    for (auto& value : mel)
        value = (std::max(value, top - 8.0) + 4.0) / 4.0;
    return mel;
}

std::vector<double> referenceEncoder(const std::vector<double>& mel, const ReferenceEncoderSizes& s,
                                     const ReferenceWeights& weights, int threads) {
    const int inputFrames = 2 * s.contextLength;
    if (mel.size() != static_cast<std::size_t>(s.melCount) * inputFrames)
        throw std::invalid_argument("reference encoder: mel of the wrong size");
    Matrix x(mel.size()); // time-major
    for (int m = 0; m < s.melCount; ++m)
        for (int t = 0; t < inputFrames; ++t)
            x[static_cast<std::size_t>(t) * s.melCount + m] =
                mel[static_cast<std::size_t>(m) * inputFrames + t];

    const int d = s.width;
    x = convolve(x, inputFrames, s.melCount, weights("model.encoder.conv1.weight"),
                 weights("model.encoder.conv1.bias"), d, 1, threads);
    std::transform(x.begin(), x.end(), x.begin(), gelu);
    x = convolve(x, inputFrames, d, weights("model.encoder.conv2.weight"),
                 weights("model.encoder.conv2.bias"), d, 2, threads);
    std::transform(x.begin(), x.end(), x.begin(), gelu);
    addInto(x, weights("model.encoder.embed_positions.weight"));

    const int frames = s.contextLength;
    for (int layer = 0; layer < s.layers; ++layer) {
        const std::string p = "model.encoder.layers." + std::to_string(layer) + ".";
        Matrix h = layerNorm(x, frames, d, weights(p + "self_attn_layer_norm.weight"),
                             weights(p + "self_attn_layer_norm.bias"));
        addInto(x, selfAttention(h, frames, d, s.heads, weights, p + "self_attn.", threads));
        h = layerNorm(x, frames, d, weights(p + "final_layer_norm.weight"),
                      weights(p + "final_layer_norm.bias"));
        const Matrix b1 = weights(p + "fc1.bias"), b2 = weights(p + "fc2.bias");
        h = linear(h, frames, d, weights(p + "fc1.weight"), &b1, 4 * d, threads);
        std::transform(h.begin(), h.end(), h.begin(), gelu);
        addInto(x, linear(h, frames, 4 * d, weights(p + "fc2.weight"), &b2, d, threads));
    }
    return layerNorm(x, frames, d, weights("model.encoder.layer_norm.weight"),
                     weights("model.encoder.layer_norm.bias"));
}

} // namespace velnote::testing
