#pragma once

#include <vector>

namespace velnote::platform::ml {

// Triangular mel filters on the Slaney mel scale (linear below 1 kHz, logarithmic above), each
// normalised to unit area ("Slaney" normalisation: 2 / bandwidth in Hz), as the published speech
// models were trained with. Returns melCount rows of fftLength / 2 + 1 weights, row after row,
// for the bins of a real FFT of fftLength samples at sampleRate. Defaults: 0–8 kHz, n_fft 400,
// 16 kHz. Throws std::invalid_argument for a non-positive count or length, or a band outside
// 0…sampleRate / 2.
std::vector<float> slaneyMelFilterBank(int melCount, int fftLength = 400, double sampleRate = 16000.0,
                                       double minHz = 0.0, double maxHz = 8000.0);

// The Slaney mel value of a frequency, and back.
double hzToSlaneyMel(double hz);
double slaneyMelToHz(double mel);

} // namespace velnote::platform::ml
