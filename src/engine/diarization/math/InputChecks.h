#pragma once

#include <string>
#include <vector>

namespace diarith {

// Refuses, with DiarithError::invalidConfiguration, a list of vectors that differ in length or hold
// a value that is not finite. `input` names the list in the message ("kMeans: embeddings").
void requireEqualLengthFinite(const std::vector<std::vector<float>>& vectors, const std::string& input);

// Refuses a value that is not finite; `input` names it in the message.
void requireFinite(double value, const std::string& input);

} // namespace diarith
