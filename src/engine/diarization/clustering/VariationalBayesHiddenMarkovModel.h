#pragma once

#include <cstdint>
#include <vector>

namespace diarith {

// VBx without speaker transitions: refines a hard clustering of PLDA-space embeddings into soft
// speaker responsibilities and speaker priors. Embeddings are modelled with zero mean, identity
// within-class covariance and the diagonal between-class covariance Φ of the PLDA projection in use.
// Stateless; callable from any thread.
class VariationalBayesHiddenMarkovModel {
  public:
    static constexpr std::size_t kDimensions = 128; // PLDA dimensions

    struct Result {
        std::vector<std::vector<float>> speakerAssignmentMatrix; // T × S responsibilities, rows sum to 1
        std::vector<float> speakerPriorProbabilities;            // S priors, summing to 1
        std::int64_t iterations = 0;                             // refinement iterations that ran
    };

    // ahcClusters: one label per embedding (a negative label starts with no speaker).
    // pldaEmbeddings: T vectors of 128 values. speakerRelevanceFactorA/B: Fa scales the acoustic
    // evidence, Fb regularises the speakers. maxIterations ≤ 0 returns the smoothed start.
    // initialSmoothingFactor < 0 (or NaN) keeps the hard 0/1 start. betweenClassCovarianceDiag: Φ,
    // 128 values. verbose: log a decrease of the objective at error level.
    //
    // No embeddings, a first embedding not of 128 values, a label count other than T, or no
    // label ≥ 0 give two empty lists. Throws DiarithError::invalidConfiguration when the
    // embeddings differ in length or hold a non-finite value, or Φ is not 128 finite values.
    static Result vbx(const std::vector<std::int64_t>& ahcClusters,
                      const std::vector<std::vector<float>>& pldaEmbeddings, float speakerRelevanceFactorA,
                      float speakerRelevanceFactorB, std::int64_t maxIterations, float initialSmoothingFactor,
                      bool verbose, const std::vector<float>& betweenClassCovarianceDiag);
};

} // namespace diarith
