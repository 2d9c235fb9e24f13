#include "support/Reference.h"

#include <algorithm>
#include <cmath>
#include <ggml.h>
#include <numbers>

namespace velnote::platform::ml::reference {
namespace {

using Vector = std::vector<double>;

Vector linear(const Vector& w, const Vector* b, const Vector& x, std::size_t outputs) {
    const std::size_t inputs = x.size();
    Vector y(outputs);
    for (std::size_t o = 0; o < outputs; ++o) {
        double sum = b ? (*b)[o] : 0.0;
        for (std::size_t i = 0; i < inputs; ++i)
            sum += w[o * inputs + i] * x[i];
        y[o] = sum;
    }
    return y;
}

Vector layerNorm(const Vector& x, const Vector& gain, const Vector& bias, double eps) {
    double mean = 0, var = 0;
    for (double v : x)
        mean += v;
    mean /= static_cast<double>(x.size());
    for (double v : x)
        var += (v - mean) * (v - mean);
    var /= static_cast<double>(x.size());
    Vector y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i)
        y[i] = (x[i] - mean) / std::sqrt(var + eps) * gain[i] + bias[i];
    return y;
}

double gelu(double x) {
    return 0.5 * x * (1.0 + std::erf(x / std::numbers::sqrt2));
}

// Softmax over `scores`, in place.
void softmax(Vector& scores) {
    const double top = *std::max_element(scores.begin(), scores.end());
    double sum = 0;
    for (double& s : scores)
        sum += (s = std::exp(s - top));
    for (double& s : scores)
        s /= sum;
}

struct Block {
    Vector q, qb, k, v, vb, o, ob, ng, nb;
};

Block attention(const ModelFile& f, const std::string& p, const std::string& norm) {
    return {weight(f, p + ".q_proj.weight"), weight(f, p + ".q_proj.bias"), weight(f, p + ".k_proj.weight"),
            weight(f, p + ".v_proj.weight"), weight(f, p + ".v_proj.bias"), weight(f, p + ".out_proj.weight"),
            weight(f, p + ".out_proj.bias"), weight(f, norm + ".weight"),   weight(f, norm + ".bias")};
}

Vector feedForward(const ModelFile& f, const std::string& layer, const Vector& x, double eps) {
    const std::size_t d = x.size();
    const Vector h = layerNorm(x, weight(f, layer + ".final_layer_norm.weight"),
                               weight(f, layer + ".final_layer_norm.bias"), eps);
    const Vector b1 = weight(f, layer + ".fc1.bias"), b2 = weight(f, layer + ".fc2.bias");
    Vector up = linear(weight(f, layer + ".fc1.weight"), &b1, h, 4 * d);
    for (double& v : up)
        v = gelu(v);
    const Vector down = linear(weight(f, layer + ".fc2.weight"), &b2, up, d);
    Vector y = x;
    for (std::size_t i = 0; i < d; ++i)
        y[i] += down[i];
    return y;
}

// Attention of queries over keys/values ([position][channel]); `visible(q, k)` masks.
template <class Visible>
Matrix attend(const Matrix& q, const Matrix& k, const Matrix& v, int heads, Visible visible,
              std::vector<std::vector<Vector>>* weightsOut = nullptr) {
    const std::size_t d = q.front().size(), hw = d / static_cast<std::size_t>(heads);
    Matrix out(q.size(), Vector(d, 0.0));
    if (weightsOut)
        weightsOut->assign(q.size(), std::vector<Vector>(static_cast<std::size_t>(heads)));
    for (std::size_t i = 0; i < q.size(); ++i) {
        for (std::size_t h = 0; h < static_cast<std::size_t>(heads); ++h) {
            Vector scores(k.size());
            for (std::size_t j = 0; j < k.size(); ++j) {
                double dot = 0;
                for (std::size_t c = 0; c < hw; ++c)
                    dot += q[i][h * hw + c] * k[j][h * hw + c];
                scores[j] = visible(i, j) ? dot / std::sqrt(static_cast<double>(hw)) : -1e300;
            }
            softmax(scores);
            for (std::size_t j = 0; j < k.size(); ++j)
                for (std::size_t c = 0; c < hw; ++c)
                    out[i][h * hw + c] += scores[j] * v[j][h * hw + c];
            if (weightsOut)
                (*weightsOut)[i][h] = scores;
        }
    }
    return out;
}

Vector add(Vector a, const Vector& b) {
    for (std::size_t i = 0; i < a.size(); ++i)
        a[i] += b[i];
    return a;
}

} // namespace

std::vector<double> weight(const ModelFile& file, const std::string& name) {
    const ggml_tensor* t = file.tensor(name);
    std::vector<double> out(static_cast<std::size_t>(ggml_nelements(t)));
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (t->type == GGML_TYPE_F16)
            out[i] = ggml_fp16_to_fp32(static_cast<const ggml_fp16_t*>(t->data)[i]);
        else if (t->type == GGML_TYPE_BF16)
            out[i] = ggml_bf16_to_fp32(static_cast<const ggml_bf16_t*>(t->data)[i]);
        else
            out[i] = static_cast<const float*>(t->data)[i];
    }
    return out;
}

std::vector<double> values(const basalith::MultiArray& array) {
    const auto floats = array.toFloatArray();
    return {floats.begin(), floats.end()};
}

Matrix logMel(const ModelFile& file, const std::vector<float>& audio) {
    const auto& c = std::get<MelSpectrogramConfig>(file.config());
    const int n = c.fftLength, half = n / 2, bins = c.frequencyBins();
    const auto filters = weight(file, "mel_filters");
    const auto samples = static_cast<std::int64_t>(audio.size());
    auto at = [&](std::int64_t i) {
        i = std::abs(i);
        return static_cast<double>(audio[static_cast<std::size_t>(i >= samples ? 2 * (samples - 1) - i : i)]);
    };
    Matrix mel(static_cast<std::size_t>(c.melCount), Vector(static_cast<std::size_t>(c.frameCount())));
    double top = -1e300;
    for (std::int64_t frame = 0; frame < c.frameCount(); ++frame) {
        Vector power(static_cast<std::size_t>(bins));
        for (int k = 0; k < bins; ++k) {
            double re = 0, im = 0;
            for (int t = 0; t < n; ++t) {
                const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * t / n);
                const double s = w * at(frame * c.hopLength + t - half);
                re += s * std::cos(2 * std::numbers::pi * k * t / n);
                im -= s * std::sin(2 * std::numbers::pi * k * t / n);
            }
            power[static_cast<std::size_t>(k)] = re * re + im * im;
        }
        for (int m = 0; m < c.melCount; ++m) {
            double sum = 0;
            for (int k = 0; k < bins; ++k)
                sum += filters[static_cast<std::size_t>(m * bins + k)] * power[static_cast<std::size_t>(k)];
            const double value = std::log10(std::max(sum, 1e-10));
            mel[static_cast<std::size_t>(m)][static_cast<std::size_t>(frame)] = value;
            top = std::max(top, value);
        }
    }
    for (auto& row : mel)
        for (double& v : row)
            v = (std::max(v, top - 8.0) + 4.0) / 4.0;
    return mel;
}

Matrix encode(const ModelFile& file, const Matrix& mel) {
    const auto& c = std::get<AudioEncoderConfig>(file.config());
    const std::size_t d = static_cast<std::size_t>(c.width),
                      frames = static_cast<std::size_t>(c.contextLength);
    auto conv = [&](const std::string& name, const Matrix& in, std::size_t stride, std::size_t outLength) {
        const Vector w = weight(file, name + ".weight"), b = weight(file, name + ".bias");
        const std::size_t channels = in.size(), length = in.front().size();
        Matrix out(d, Vector(outLength));
        for (std::size_t o = 0; o < d; ++o) {
            for (std::size_t t = 0; t < outLength; ++t) {
                double sum = b[o];
                for (std::size_t i = 0; i < channels; ++i)
                    for (std::size_t k = 0; k < 3; ++k) {
                        const auto pos = static_cast<std::int64_t>(t * stride + k) - 1;
                        if (pos >= 0 && pos < static_cast<std::int64_t>(length))
                            sum += w[(o * channels + i) * 3 + k] * in[i][static_cast<std::size_t>(pos)];
                    }
                out[o][t] = gelu(sum);
            }
        }
        return out;
    };
    const Matrix first = conv("model.encoder.conv1", mel, 1, 2 * frames);
    const Matrix second = conv("model.encoder.conv2", first, 2, frames);
    const Vector positions = weight(file, "model.encoder.embed_positions.weight");
    Matrix x(frames, Vector(d));
    for (std::size_t t = 0; t < frames; ++t)
        for (std::size_t ch = 0; ch < d; ++ch)
            x[t][ch] = second[ch][t] + positions[t * d + ch];

    for (int layer = 0; layer < c.layerCount; ++layer) {
        const std::string prefix = "model.encoder.layers." + std::to_string(layer);
        const Block a = attention(file, prefix + ".self_attn", prefix + ".self_attn_layer_norm");
        Matrix q, k, v;
        for (const auto& row : x) {
            const Vector h = layerNorm(row, a.ng, a.nb, c.layerNormEps);
            q.push_back(linear(a.q, &a.qb, h, d));
            k.push_back(linear(a.k, nullptr, h, d));
            v.push_back(linear(a.v, &a.vb, h, d));
        }
        const Matrix attended = attend(q, k, v, c.headCount, [](auto, auto) { return true; });
        for (std::size_t t = 0; t < frames; ++t) {
            x[t] = add(x[t], linear(a.o, &a.ob, attended[t], d));
            x[t] = feedForward(file, prefix, x[t], c.layerNormEps);
        }
    }
    const Vector g = weight(file, "model.encoder.layer_norm.weight"),
                 b = weight(file, "model.encoder.layer_norm.bias");
    for (auto& row : x)
        row = layerNorm(row, g, b, c.layerNormEps);
    return x;
}

DecoderPass decode(const ModelFile& file, const TextDecoderConfig& c, const std::vector<int>& tokens,
                   const Matrix& encoderOutput) {
    const std::size_t d = static_cast<std::size_t>(c.width), n = tokens.size();
    const Vector embed = weight(file, "model.decoder.embed_tokens.weight");
    const Vector positions = weight(file, "model.decoder.embed_positions.weight");
    Matrix x(n, Vector(d));
    for (std::size_t p = 0; p < n; ++p)
        for (std::size_t ch = 0; ch < d; ++ch)
            x[p][ch] = embed[static_cast<std::size_t>(tokens[p]) * d + ch] + positions[p * d + ch];

    DecoderPass pass;
    for (int layer = 0; layer < c.layerCount; ++layer) {
        const std::string prefix = "model.decoder.layers." + std::to_string(layer);
        const Block a = attention(file, prefix + ".self_attn", prefix + ".self_attn_layer_norm");
        Matrix q, k, v;
        for (const auto& row : x) {
            const Vector h = layerNorm(row, a.ng, a.nb, c.layerNormEps);
            q.push_back(linear(a.q, &a.qb, h, d));
            k.push_back(linear(a.k, nullptr, h, d));
            v.push_back(linear(a.v, &a.vb, h, d));
        }
        pass.keys.push_back(k);
        pass.values.push_back(v);
        const Matrix attended =
            attend(q, k, v, c.headCount, [](std::size_t i, std::size_t j) { return j <= i; });
        for (std::size_t p = 0; p < n; ++p)
            x[p] = add(x[p], linear(a.o, &a.ob, attended[p], d));

        const Block cross = attention(file, prefix + ".encoder_attn", prefix + ".encoder_attn_layer_norm");
        Matrix cq, ck, cv;
        for (const auto& row : x)
            cq.push_back(linear(cross.q, &cross.qb, layerNorm(row, cross.ng, cross.nb, c.layerNormEps), d));
        for (const auto& frame : encoderOutput) {
            ck.push_back(linear(cross.k, nullptr, frame, d));
            cv.push_back(linear(cross.v, &cross.vb, frame, d));
        }
        std::vector<std::vector<Vector>> weights;
        const Matrix heard = attend(
            cq, ck, cv, c.headCount, [](auto, auto) { return true; }, &weights);
        pass.crossWeights.push_back(weights);
        for (std::size_t p = 0; p < n; ++p) {
            x[p] = add(x[p], linear(cross.o, &cross.ob, heard[p], d));
            x[p] = feedForward(file, prefix, x[p], c.layerNormEps);
        }
    }
    const Vector g = weight(file, "model.decoder.layer_norm.weight"),
                 b = weight(file, "model.decoder.layer_norm.bias");
    for (const auto& row : x)
        pass.logits.push_back(linear(embed, nullptr, layerNorm(row, g, b, c.layerNormEps),
                                     static_cast<std::size_t>(c.vocabularySize)));
    return pass;
}

} // namespace velnote::platform::ml::reference
