#pragma once

#include "platform/ml/ModelConfig.h"

#include <gguf.h>

// Internal to the model runtime: the hyper-parameters and the feature description as GGUF keys,
// shared by the writer and the loader so both spell every key the same way.
namespace velnote::platform::ml::gguf_keys {

void writeConfig(gguf_context* file, const ModelConfig& config);
void writeFeatures(gguf_context* file, const FeatureSpecs& features);

// Both throw std::invalid_argument naming the missing or mistyped key. readConfig also validates
// the configuration.
ModelConfig readConfig(const gguf_context* file);
FeatureSpecs readFeatures(const gguf_context* file);

// "float16", "float32", "int32"; std::invalid_argument for another text.
const char* dataTypeName(basalith::MultiArrayDataType type);
basalith::MultiArrayDataType dataTypeFromName(const std::string& name);

} // namespace velnote::platform::ml::gguf_keys
