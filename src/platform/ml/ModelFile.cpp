#include "platform/ml/ModelFile.h"

#include "platform/ml/GgmlSupport.h"
#include "platform/ml/GgufKeys.h"
#include "platform/ml/ModelError.h"

#include <algorithm>
#include <cstdio>
#include <ggml-alloc.h>
#include <ggml-backend.h>
#include <ggml-cpp.h>
#include <ggml-cpu.h>
#include <ggml.h>
#include <gguf.h>
#include <map>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace velnote::platform::ml {

struct ModelFile::Handles {
    ggml_context_ptr context;
    ggml_backend_buffer_ptr buffer;
    std::map<std::string, ggml_tensor*> tensors;
};

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

[[noreturn]] void invalid(const fs::path& path, const std::string& reason) {
    throw ModelError(ModelError::Code::invalidModel, "Invalid model file " + path.string() + ": " + reason);
}

ggml_type ggmlType(StoredType type) {
    return type == StoredType::float16 ? GGML_TYPE_F16 : GGML_TYPE_F32;
}

// The type a weight is held in. A processor with native BF16 dot products multiplies BF16 weights
// (and activations) about 1.6 to 2 times as fast as F16 ones (base-size encoder products on 2
// threads: 100-120 against 150-200 GFLOP/s); the 8-bit mantissa costs the transcripts nothing
// measurable.
ggml_type heldType(const TensorSpec& spec) {
    if (spec.productWeight && spec.storedType == StoredType::float16 && ggml_cpu_has_avx512_bf16())
        return GGML_TYPE_BF16;
    return ggmlType(spec.storedType);
}

// Reads `t`'s elements as the file stores them (`stored`), converting F16 to BF16 on the way when
// `t` is held in BF16. False when the file ends early.
bool readTensor(std::FILE* in, ggml_tensor* t, ggml_type stored) {
    if (t->type == stored)
        return std::fread(t->data, 1, ggml_nbytes(t), in) == ggml_nbytes(t);
    constexpr std::size_t kChunk = 1 << 16;
    std::vector<ggml_fp16_t> half(kChunk);
    std::vector<float> wide(kChunk);
    auto* target = static_cast<ggml_bf16_t*>(t->data);
    for (std::size_t done = 0, total = static_cast<std::size_t>(ggml_nelements(t)); done < total;) {
        const std::size_t n = std::min(kChunk, total - done);
        if (std::fread(half.data(), sizeof(ggml_fp16_t), n, in) != n)
            return false;
        ggml_fp16_to_fp32_row(half.data(), wide.data(), static_cast<std::int64_t>(n));
        ggml_fp32_to_bf16_row_ref(wide.data(), target + done, static_cast<std::int64_t>(n));
        done += n;
    }
    return true;
}

// Checks one tensor's entry in the file against what the network needs; returns the file offset
// of its data.
std::uint64_t checkTensor(const gguf_context* file, const TensorSpec& spec, std::uintmax_t fileSize,
                          const fs::path& path) {
    const std::int64_t id = gguf_find_tensor(file, spec.name.c_str());
    if (id < 0)
        invalid(path, "missing tensor " + spec.name);
    if (gguf_get_tensor_type(file, id) != ggmlType(spec.storedType))
        invalid(path, "tensor " + spec.name + " has another element type");
    const std::int64_t* ne = gguf_get_tensor_ne(file, id);
    for (std::size_t dim = 0; dim < GGML_MAX_DIMS; ++dim) {
        const std::int64_t expected = dim < spec.shape.size() ? spec.shape[spec.shape.size() - 1 - dim] : 1;
        if (ne[dim] != expected)
            invalid(path, "tensor " + spec.name + " has another shape");
    }
    const std::uint64_t offset = gguf_get_data_offset(file) + gguf_get_tensor_offset(file, id);
    const std::uint64_t size = gguf_get_tensor_size(file, id);
    if (offset > fileSize || size > fileSize - offset)
        invalid(path, "tensor " + spec.name + " lies beyond the end of the file (truncated?)");
    return offset;
}

} // namespace

fs::path ModelFile::locate(const fs::path& location) {
    std::error_code ec;
    if (fs::is_regular_file(location, ec))
        return location;
    std::vector<fs::path> found;
    for (fs::directory_iterator it(location, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& entry = it->path();
        if (entry.extension() == ".gguf" && entry.filename().string().front() != '.' &&
            fs::is_regular_file(entry, ec))
            found.push_back(entry);
    }
    if (found.empty())
        throw ModelError(ModelError::Code::notFound, "Model file not found at " + location.string());
    if (found.size() > 1)
        throw ModelError(ModelError::Code::notFound, "More than one model file in " + location.string());
    return found.front();
}

std::shared_ptr<const ModelFile> ModelFile::load(const fs::path& location) {
    installGgmlLogger();
    const fs::path path = locate(location);
    std::error_code ec;
    const std::uintmax_t fileSize = fs::file_size(path, ec);
    if (ec)
        throw ModelError(ModelError::Code::notFound, "Cannot read model file " + path.string());

    gguf_init_params params{true, nullptr};
    gguf_context_ptr file(gguf_init_from_file(path.c_str(), params));
    if (!file)
        invalid(path, "not a GGUF file, or damaged or truncated");

    ModelConfig config;
    FeatureSpecs features;
    try {
        config = gguf_keys::readConfig(file.get());
        features = gguf_keys::readFeatures(file.get());
    } catch (const std::invalid_argument& error) {
        invalid(path, error.what());
    }
    try {
        checkDeclaredFeatures(features, featureSpecs(config), allowsDeclaredLayout(config));
    } catch (const std::invalid_argument& error) {
        invalid(path, std::string("its declared inputs and outputs do not match its hyper-parameters: ") +
                          error.what());
    }

    const std::vector<TensorSpec> specs = tensorSpecs(config);
    std::vector<std::uint64_t> offsets;
    for (const auto& spec : specs)
        offsets.push_back(checkTensor(file.get(), spec, fileSize, path));

    auto handles = std::make_unique<Handles>();
    ggml_init_params init{ggml_tensor_overhead() * (specs.size() + 1), nullptr, true};
    handles->context.reset(ggml_init(init));
    for (const auto& spec : specs) {
        std::int64_t ne[GGML_MAX_DIMS] = {1, 1, 1, 1};
        std::reverse_copy(spec.shape.begin(), spec.shape.end(), ne);
        ggml_tensor* t =
            ggml_new_tensor(handles->context.get(), heldType(spec), static_cast<int>(spec.shape.size()), ne);
        ggml_set_name(t, spec.name.c_str());
        handles->tensors[spec.name] = t;
    }
    handles->buffer.reset(
        ggml_backend_alloc_ctx_tensors_from_buft(handles->context.get(), ggml_backend_cpu_buffer_type()));
    if (!handles->buffer)
        throw ModelError(ModelError::Code::invalidModel,
                         "Not enough memory for the weights of " + path.string());
    ggml_backend_buffer_set_usage(handles->buffer.get(), GGML_BACKEND_BUFFER_USAGE_WEIGHTS);

    FilePtr in(std::fopen(path.c_str(), "rb"));
    if (!in)
        throw ModelError(ModelError::Code::notFound, "Cannot read model file " + path.string());
    for (std::size_t i = 0; i < specs.size(); ++i) {
        ggml_tensor* t = handles->tensors[specs[i].name];
        if (fseeko(in.get(), static_cast<off_t>(offsets[i]), SEEK_SET) != 0 ||
            !readTensor(in.get(), t, ggmlType(specs[i].storedType)))
            invalid(path, "cannot read tensor " + specs[i].name + " (truncated?)");
    }
    return std::shared_ptr<const ModelFile>(
        new ModelFile(path, std::move(config), std::move(features), std::move(handles)));
}

ModelFile::ModelFile(fs::path path, ModelConfig config, FeatureSpecs features,
                     std::unique_ptr<Handles> handles)
    : path_(std::move(path)), config_(std::move(config)), features_(std::move(features)),
      handles_(std::move(handles)) {}

ModelFile::~ModelFile() = default;

ggml_tensor* ModelFile::tensor(const std::string& name) const {
    auto found = handles_->tensors.find(name);
    if (found == handles_->tensors.end())
        throw std::out_of_range("model has no tensor " + name);
    return found->second;
}

} // namespace velnote::platform::ml
