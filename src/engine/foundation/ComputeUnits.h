#pragma once

namespace basalith {

// The processing units a model is asked to run on. Kept as data: our model runtime computes on
// the CPU whatever is chosen. Any other raw value is representable and names itself "unknown".
enum class ComputeUnits : int { cpuOnly = 0, cpuAndGPU = 1, all = 2, cpuAndNeuralEngine = 3 };

// "cpuOnly", "cpuAndGPU", "all", "cpuAndNeuralEngine", else "unknown".
const char* description(ComputeUnits units);
// "CPU", "GPU", "All", "Neural Engine", else "Unknown".
const char* displayName(ComputeUnits units);

} // namespace basalith
