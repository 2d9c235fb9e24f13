#include "platform/ml/Model.h"

#include "platform/ml/GgmlSupport.h"
#include "platform/ml/ModelError.h"

#include <new>

namespace velnote::platform::ml {
namespace {

using basalith::MultiArray;
using basalith::MultiArrayDataType;

std::string shapeText(const std::vector<std::int64_t>& shape) {
    std::string text = "[";
    for (std::size_t i = 0; i < shape.size(); ++i)
        text += (i ? ", " : "") + std::to_string(shape[i]);
    return text + "]";
}

// The input as the network takes it: contiguous and of the declared element type.
MultiArray normalized(const MultiArray& input, const FeatureSpec& spec) {
    if (input.dataType() == spec.dataType && input.isContiguous())
        return input;
    MultiArray out(spec.shape, spec.dataType);
    const std::int64_t n = out.count();
    if (spec.dataType == MultiArrayDataType::int32) {
        const std::vector<int> values = input.toIntArray();
        std::copy_n(values.begin(), n, out.dataAs<std::int32_t>());
        return out;
    }
    const std::vector<float> values = input.toFloatArray();
    if (spec.dataType == MultiArrayDataType::float32) {
        std::copy_n(values.begin(), n, out.dataAs<float>());
    } else {
        basalith::Float16* target = out.dataAs<basalith::Float16>();
        for (std::int64_t i = 0; i < n; ++i)
            target[i] = static_cast<basalith::Float16>(values[static_cast<std::size_t>(i)]);
    }
    return out;
}

FeatureMap checkedInputs(const FeatureMap& inputs, const std::vector<FeatureSpec>& specs) {
    FeatureMap out;
    for (const auto& spec : specs) {
        auto found = inputs.find(spec.name);
        if (found == inputs.end())
            throw ModelError(ModelError::Code::invalidInput, "Missing input \"" + spec.name + "\"");
        if (found->second.shape() != spec.shape)
            throw ModelError(ModelError::Code::invalidInput, "Input \"" + spec.name + "\" has shape " +
                                                                 shapeText(found->second.shape()) +
                                                                 ", expected " + shapeText(spec.shape));
        out.emplace(spec.name, normalized(found->second, spec));
    }
    return out;
}

// The network's outputs as the file declares them: only the declared ones, each in its declared
// shape (a file may declare another shape of the same size; see allowsDeclaredLayout).
FeatureMap declaredOutputs(FeatureMap computed, const std::vector<FeatureSpec>& specs) {
    FeatureMap out;
    for (const auto& spec : specs) {
        auto found = computed.find(spec.name);
        if (found == computed.end())
            throw ModelError(ModelError::Code::predictionFailed,
                             "The network gave no output \"" + spec.name + "\"");
        MultiArray array = std::move(found->second);
        if (array.shape() != spec.shape) {
            auto owner = std::make_shared<MultiArray>(array.contiguousCopy());
            array = MultiArray::view(owner->data(), spec.shape, spec.dataType, {}, owner);
        }
        out.emplace(spec.name, std::move(array));
    }
    return out;
}

} // namespace

std::shared_ptr<Model> Model::load(const std::filesystem::path& location, basalith::ComputeUnits computeUnits,
                                   ModelOptions options) {
    auto file = ModelFile::load(location);
    ModelConfig config = file->config();
    FeatureSpecs features = file->features();
    std::shared_ptr<const Network> network = makeNetwork(std::move(file));
    const int threads = options.threads > 0 ? options.threads : defaultThreadCount();
    return std::shared_ptr<Model>(
        new Model(std::move(network), std::move(config), std::move(features), computeUnits, threads));
}

void Model::prewarm(const std::filesystem::path& location, basalith::ComputeUnits computeUnits) {
    load(location, computeUnits);
}

Model::Model(std::shared_ptr<const Network> network, ModelConfig config, FeatureSpecs features,
             basalith::ComputeUnits computeUnits, int threads)
    : config_(std::move(config)), architecture_(architectureName(config_)), features_(std::move(features)),
      description_(toModelDescription(features_)), computeUnits_(computeUnits), threads_(threads),
      network_(std::move(network)) {}

std::shared_ptr<const Network> Model::currentNetwork() const {
    std::lock_guard lock(mutex_);
    return network_;
}

FeatureMap Model::predict(const FeatureMap& inputs) const {
    const auto network = currentNetwork();
    if (!network)
        throw ModelError(ModelError::Code::notLoaded, "The " + architecture_ + " model is not loaded");
    const FeatureMap checked = checkedInputs(inputs, features_.inputs);
    try {
        return declaredOutputs(network->predict(checked, threads_), features_.outputs);
    } catch (const std::bad_alloc&) {
        throw ModelError(ModelError::Code::predictionFailed,
                         "Not enough memory for a " + architecture_ + " prediction");
    }
}

void Model::unload() {
    std::shared_ptr<const Network> released;
    std::lock_guard lock(mutex_);
    released.swap(network_);
}

bool Model::isLoaded() const {
    std::lock_guard lock(mutex_);
    return network_ != nullptr;
}

} // namespace velnote::platform::ml
