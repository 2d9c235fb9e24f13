#include "platform/ml/ModelWriter.h"

#include "platform/ml/GgufKeys.h"
#include "platform/ml/MelFilterBank.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ggml-cpp.h>
#include <ggml.h>
#include <gguf.h>
#include <map>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace velnote::platform::ml {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string shapeText(const std::vector<std::int64_t>& shape) {
    std::string text = "[";
    for (std::size_t i = 0; i < shape.size(); ++i)
        text += (i ? ", " : "") + std::to_string(shape[i]);
    return text + "]";
}

std::int64_t elementCount(const std::vector<std::int64_t>& shape) {
    std::int64_t n = 1;
    for (auto d : shape)
        n *= d;
    return n;
}

// The stored bytes of one tensor.
std::vector<std::uint8_t> encode(const TensorSpec& spec, const std::vector<float>& values) {
    if (static_cast<std::int64_t>(values.size()) != elementCount(spec.shape))
        throw std::invalid_argument("tensor " + spec.name + " has " + std::to_string(values.size()) +
                                    " values, expected " + std::to_string(elementCount(spec.shape)));
    constexpr float kHalfMax = 65504.0f;
    for (float v : values) {
        if (!std::isfinite(v) || (spec.storedType == StoredType::float16 && std::fabs(v) > kHalfMax))
            throw std::invalid_argument("tensor " + spec.name + " holds a value its stored type cannot hold");
    }
    if (spec.storedType == StoredType::float32) {
        std::vector<std::uint8_t> bytes(values.size() * sizeof(float));
        std::copy_n(reinterpret_cast<const std::uint8_t*>(values.data()), bytes.size(), bytes.data());
        return bytes;
    }
    std::vector<std::uint8_t> bytes(values.size() * sizeof(ggml_fp16_t));
    ggml_fp32_to_fp16_row(values.data(), reinterpret_cast<ggml_fp16_t*>(bytes.data()),
                          static_cast<std::int64_t>(values.size()));
    return bytes;
}

const WeightTensor& findTensor(const std::map<std::string, const WeightTensor*>& byName,
                               const TensorSpec& spec) {
    auto found = byName.find(spec.name);
    if (found == byName.end())
        throw std::invalid_argument("missing tensor " + spec.name);
    if (found->second->shape != spec.shape)
        throw std::invalid_argument("tensor " + spec.name + " has shape " + shapeText(found->second->shape) +
                                    ", expected " + shapeText(spec.shape));
    if (!found->second->values)
        throw std::invalid_argument("tensor " + spec.name + " has no values");
    return *found->second;
}

void check(bool ok, const std::string& what) {
    if (!ok)
        throw std::system_error(errno ? errno : EIO, std::generic_category(), what);
}

void writeBytes(std::FILE* file, const void* data, std::size_t size, const fs::path& path) {
    check(size == 0 || std::fwrite(data, 1, size, file) == size, "cannot write " + path.string());
}

} // namespace

WeightTensor WeightTensor::of(std::string name, std::vector<std::int64_t> shape, std::vector<float> values) {
    auto shared = std::make_shared<std::vector<float>>(std::move(values));
    return {std::move(name), std::move(shape), [shared] { return *shared; }};
}

WeightTensor melFilterTensor(const MelSpectrogramConfig& config) {
    return WeightTensor::of("mel_filters", {config.melCount, config.frequencyBins()},
                            slaneyMelFilterBank(config.melCount, config.fftLength));
}

void writeModel(const fs::path& folder, const ModelConfig& config, const std::vector<WeightTensor>& tensors) {
    writeModelFile(folder / kModelFileName, config, tensors);
}

void writeModelFile(const fs::path& target, const ModelConfig& config,
                    const std::vector<WeightTensor>& tensors,
                    const std::optional<FeatureSpecs>& declaredFeatures) {
    validate(config);
    const std::vector<TensorSpec> specs = tensorSpecs(config);
    std::map<std::string, const WeightTensor*> byName;
    for (const auto& tensor : tensors)
        byName.emplace(tensor.name, &tensor);
    for (const auto& spec : specs)
        findTensor(byName, spec); // every tensor is checked before anything is written

    gguf_context_ptr file(gguf_init_empty());
    gguf_keys::writeConfig(file.get(), config);
    gguf_keys::writeFeatures(file.get(), declaredFeatures.value_or(featureSpecs(config)));

    // The file keeps only the tensors' descriptions; their data is appended one tensor at a time.
    ggml_init_params params{ggml_tensor_overhead() * (specs.size() + 1), nullptr, true};
    ggml_context_ptr shapes(ggml_init(params));
    for (const auto& spec : specs) {
        std::int64_t ne[GGML_MAX_DIMS] = {1, 1, 1, 1};
        std::reverse_copy(spec.shape.begin(), spec.shape.end(), ne);
        ggml_tensor* t = ggml_new_tensor(
            shapes.get(), spec.storedType == StoredType::float16 ? GGML_TYPE_F16 : GGML_TYPE_F32,
            static_cast<int>(spec.shape.size()), ne);
        ggml_set_name(t, spec.name.c_str());
        gguf_add_tensor(file.get(), t);
    }

    if (target.has_parent_path())
        fs::create_directories(target.parent_path());
    const fs::path partial = fs::path(target).concat(".partial");
    try {
        FilePtr out(std::fopen(partial.c_str(), "wb"));
        check(out != nullptr, "cannot create " + partial.string());
        check(gguf_write_to_file_ptr(file.get(), out.get(), true), "cannot write " + partial.string());
        const std::size_t alignment = gguf_get_alignment(file.get());
        const std::vector<std::uint8_t> zeros(alignment, 0);
        for (const auto& spec : specs) {
            const std::vector<std::uint8_t> bytes = encode(spec, findTensor(byName, spec).values());
            writeBytes(out.get(), bytes.data(), bytes.size(), partial);
            writeBytes(out.get(), zeros.data(), (alignment - bytes.size() % alignment) % alignment, partial);
        }
        check(std::fflush(out.get()) == 0 && ::fsync(fileno(out.get())) == 0,
              "cannot write " + partial.string());
        out.reset();
        fs::rename(partial, target);
    } catch (...) {
        std::error_code ignored;
        fs::remove(partial, ignored);
        throw;
    }
}

} // namespace velnote::platform::ml
