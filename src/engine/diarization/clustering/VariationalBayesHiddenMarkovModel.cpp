#include "engine/diarization/clustering/VariationalBayesHiddenMarkovModel.h"

#include "engine/diarization/DiarithError.h"
#include "engine/diarization/math/InputChecks.h"
#include "engine/diarization/math/MathOps.h"
#include "engine/foundation/Logging.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace diarith {
namespace {

using Matrix = MathOps::Matrix;
constexpr float kLogTwoPi = 1.837877f;

// The speaker models' posteriors of one iteration.
struct SpeakerModels {
    Matrix precisionInverse; // L⁻¹, S × D
    Matrix parameters;       // α, S × D
};

struct Model {
    const std::vector<float>& phi;
    Matrix scaled;               // ρ = X·√Φ, T × D
    std::vector<float> constant; // G, T
    float fa;
    float fb;
};

Model makeModel(const Matrix& x, const std::vector<float>& phi, float fa, float fb) {
    Model model{.phi = phi, .scaled = x, .constant = std::vector<float>(x.size()), .fa = fa, .fb = fb};
    for (std::size_t t = 0; t < x.size(); ++t) {
        float squares = 0.0f;
        for (std::size_t d = 0; d < phi.size(); ++d) {
            model.scaled[t][d] = x[t][d] * std::sqrt(phi[d]);
            squares += x[t][d] * x[t][d];
        }
        model.constant[t] = -0.5f * (squares + static_cast<float>(phi.size()) * kLogTwoPi);
    }
    return model;
}

Matrix initialResponsibilities(const std::vector<std::int64_t>& labels, std::size_t speakers,
                               float smoothing) {
    Matrix q(labels.size(), std::vector<float>(speakers, 0.0f));
    for (std::size_t t = 0; t < labels.size(); ++t) {
        if (labels[t] >= 0)
            q[t][static_cast<std::size_t>(labels[t])] = 1.0f;
    }
    if (!(smoothing >= 0.0f))
        return q;
    for (auto& row : q) {
        for (float& v : row)
            v *= smoothing;
    }
    return MathOps::softmax(q);
}

SpeakerModels speakerModels(const Model& model, const Matrix& gamma) {
    const std::size_t speakers = gamma.front().size();
    const float ratio = model.fa / model.fb;
    const auto gammaT = MathOps::matrixTranspose(gamma);
    const auto evidence = MathOps::matrixMultiply(gammaT, model.scaled); // S × D
    SpeakerModels models{.precisionInverse = Matrix(speakers, std::vector<float>(model.phi.size())),
                         .parameters = Matrix(speakers, std::vector<float>(model.phi.size()))};
    for (std::size_t s = 0; s < speakers; ++s) {
        float count = 0.0f;
        for (const auto& row : gamma)
            count += row[s];
        for (std::size_t d = 0; d < model.phi.size(); ++d) {
            const float inverse = 1.0f / (model.phi[d] * (ratio * count) + 1.0f);
            models.precisionInverse[s][d] = inverse;
            models.parameters[s][d] = (inverse * ratio) * evidence.flatMatrix[s * evidence.cols + d];
        }
    }
    return models;
}

// log p[t][s] = Fa · (ρ[t]·α[s] − 0.5 · Σ_d (L⁻¹[s][d] + α[s][d]²)·Φ[d] + G[t]).
Matrix calculateLogLikelihoods(const Model& model, const SpeakerModels& models) {
    const std::size_t speakers = models.parameters.size();
    const auto cross = MathOps::matrixMultiply(model.scaled, MathOps::matrixTranspose(models.parameters));
    Matrix spread(speakers, std::vector<float>(model.phi.size()));
    for (std::size_t s = 0; s < speakers; ++s) {
        for (std::size_t d = 0; d < model.phi.size(); ++d) {
            const float a = models.parameters[s][d];
            spread[s][d] = models.precisionInverse[s][d] + a * a;
        }
    }
    Matrix phiColumn;
    for (float v : model.phi)
        phiColumn.push_back({v});
    const auto penalty = MathOps::matrixMultiply(spread, phiColumn); // S × 1
    Matrix logp(model.scaled.size(), std::vector<float>(speakers));
    for (std::size_t t = 0; t < logp.size(); ++t) {
        for (std::size_t s = 0; s < speakers; ++s) {
            logp[t][s] = model.fa * (cross.flatMatrix[t * speakers + s] - 0.5f * penalty.flatMatrix[s] +
                                     model.constant[t]);
        }
    }
    return logp;
}

std::vector<float> logPriors(const std::vector<float>& priors) {
    std::vector<float> result;
    for (float p : priors) {
        const float shifted = p + 1e-8f;
        result.push_back(shifted <= 0.0f ? -std::numeric_limits<float>::infinity() : std::log(shifted));
    }
    return result;
}

// One re-estimation of γ and π; returns Σ_t log-sum-exp over speakers.
float updateResponsibilities(const Matrix& logp, const std::vector<float>& logPrior, Matrix& gamma,
                             std::vector<float>& priors) {
    const std::size_t speakers = logPrior.size();
    float total = 0.0f;
    for (std::size_t t = 0; t < logp.size(); ++t) {
        std::vector<float> v(speakers);
        for (std::size_t s = 0; s < speakers; ++s)
            v[s] = logp[t][s] + logPrior[s];
        const float lpx = MathOps::logSumExp(v);
        total += lpx;
        float m = v.front() - lpx;
        for (float& value : v) {
            value -= lpx;
            m = value > m ? value : m;
        }
        float sum = 0.0f;
        for (float& value : v) {
            value = std::exp(value - m);
            sum += value;
        }
        for (std::size_t s = 0; s < speakers; ++s)
            gamma[t][s] = sum != 0.0f ? v[s] / sum : 1.0f / static_cast<float>(speakers);
    }
    float all = 0.0f;
    std::vector<float> columns(speakers, 0.0f);
    for (const auto& row : gamma) {
        for (std::size_t s = 0; s < speakers; ++s) {
            columns[s] += row[s];
            all += row[s];
        }
    }
    for (std::size_t s = 0; s < speakers; ++s)
        priors[s] = columns[s] / all;
    return total;
}

float evidenceLowerBound(float total, const SpeakerModels& models, float fb) {
    float sum = 0.0f;
    for (std::size_t s = 0; s < models.parameters.size(); ++s) {
        for (std::size_t d = 0; d < models.parameters[s].size(); ++d) {
            const float inverse = models.precisionInverse[s][d];
            const float a = models.parameters[s][d];
            if (inverse > 0.0f)
                sum += std::log(inverse) - inverse - a * a + 1.0f;
        }
    }
    return total + (fb * 0.5f) * sum;
}

void requireTable(const std::vector<float>& phi) {
    if (phi.size() != VariationalBayesHiddenMarkovModel::kDimensions) {
        throw DiarithError::invalidConfiguration("vbx: betweenClassCovarianceDiag holds " +
                                                 std::to_string(phi.size()) + " values, expected 128");
    }
    requireEqualLengthFinite({phi}, "vbx: betweenClassCovarianceDiag");
}

} // namespace

VariationalBayesHiddenMarkovModel::Result
VariationalBayesHiddenMarkovModel::vbx(const std::vector<std::int64_t>& ahcClusters,
                                       const std::vector<std::vector<float>>& pldaEmbeddings, float fa,
                                       float fb, std::int64_t maxIterations, float initialSmoothingFactor,
                                       bool verbose, const std::vector<float>& betweenClassCovarianceDiag) {
    if (pldaEmbeddings.empty() || pldaEmbeddings.front().size() != kDimensions ||
        ahcClusters.size() != pldaEmbeddings.size()) {
        return {};
    }
    requireEqualLengthFinite(pldaEmbeddings, "vbx: pldaEmbeddings");
    requireTable(betweenClassCovarianceDiag);
    const std::int64_t largest = *std::max_element(ahcClusters.begin(), ahcClusters.end());
    if (largest < 0)
        return {};
    const auto speakers = static_cast<std::size_t>(largest) + 1;

    Result result{
        .speakerAssignmentMatrix = initialResponsibilities(ahcClusters, speakers, initialSmoothingFactor),
        .speakerPriorProbabilities = std::vector<float>(speakers, 1.0f / static_cast<float>(speakers)),
        .iterations = 0};
    const Model model = makeModel(pldaEmbeddings, betweenClassCovarianceDiag, fa, fb);
    float previous = 0.0f;
    for (std::int64_t i = 0; i < maxIterations; ++i) {
        const SpeakerModels models = speakerModels(model, result.speakerAssignmentMatrix);
        const Matrix logp = calculateLogLikelihoods(model, models);
        const float total =
            updateResponsibilities(logp, logPriors(result.speakerPriorProbabilities),
                                   result.speakerAssignmentMatrix, result.speakerPriorProbabilities);
        const float elbo = evidenceLowerBound(total, models, fb);
        result.iterations = i + 1;
        if (i > 0) {
            const float diff = elbo - previous;
            if (diff < 1e-4f) {
                if (diff < 0.0f && verbose)
                    basalith::Logging::error("[VBx] Value of auxiliary function has decreased!");
                break;
            }
        }
        previous = elbo;
    }
    return result;
}

} // namespace diarith
