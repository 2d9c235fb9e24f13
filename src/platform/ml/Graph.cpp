#include "platform/ml/Graph.h"

#include "platform/ml/ModelError.h"
#include "platform/ml/VectorKernels.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ggml-backend.h>
#include <ggml-cpu.h>
#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace velnote::platform::ml {

#if defined(__SANITIZE_THREAD__)
namespace {
char nodeBarrier; // only its address is used: the sanitizer's token for ggml's barriers
} // namespace

void handToLaterNodes() {
    __tsan_release(&nodeBarrier);
}

void takeFromEarlierNodes() {
    __tsan_acquire(&nodeBarrier);
}
#else
void handToLaterNodes() {}
void takeFromEarlierNodes() {}
#endif

Graph::Graph(std::size_t maxNodes) {
    ggml_init_params params{ggml_tensor_overhead() * maxNodes + ggml_graph_overhead_custom(maxNodes, false),
                            nullptr, true};
    context_.reset(ggml_init(params));
    if (!context_)
        throw ModelError(ModelError::Code::predictionFailed, "Not enough memory for a model graph");
    graph_ = ggml_new_graph_custom(context_.get(), maxNodes, false);
}

ggml_tensor* Graph::input(ggml_type type, std::initializer_list<std::int64_t> extents) {
    std::int64_t ne[GGML_MAX_DIMS] = {1, 1, 1, 1};
    std::size_t i = 0;
    for (auto e : extents)
        ne[i++] = e;
    ggml_tensor* t = ggml_new_tensor(context_.get(), type, static_cast<int>(extents.size()), ne);
    ggml_set_input(t);
    return t;
}

void Graph::output(ggml_tensor* tensor) {
    ggml_set_output(tensor);
    ggml_build_forward_expand(graph_, tensor);
    outputs_.push_back(tensor);
}

void Graph::allocate() {
    allocator_.reset(ggml_gallocr_new(ggml_backend_cpu_buffer_type()));
    if (!allocator_ || !ggml_gallocr_alloc_graph(allocator_.get(), graph_))
        throw ModelError(ModelError::Code::predictionFailed, "Not enough memory for a model computation");
}

void Graph::set(ggml_tensor* tensor, const void* data) {
    std::memcpy(tensor->data, data, ggml_nbytes(tensor));
}

namespace {

// Roughly the floating-point operations of a graph: matrix products dominate; every other node
// counts its elements.
double estimatedWork(ggml_cgraph* graph) {
    double work = 0;
    for (int i = 0, n = ggml_graph_n_nodes(graph); i < n; ++i) {
        const ggml_tensor* node = ggml_graph_node(graph, i);
        if (node->op == GGML_OP_MUL_MAT)
            work +=
                2.0 * static_cast<double>(node->src[0]->ne[0]) * static_cast<double>(ggml_nelements(node));
        else
            work += static_cast<double>(ggml_nelements(node));
    }
    return work;
}

// Each thread joins every node's barrier, so a small graph (a test model) runs faster on fewer
// threads, and much faster when the machine is busy and a waiting thread may not be scheduled. 25
// million operations per thread give a base-size decoder step 3 threads (measured: about 12 ms on
// 1 thread, 6 ms on 2 to 4): the steps a window decodes alone after its neighbours finished are
// what a long transcription waits for at the end. With 50 million the truncated count came to
// a single thread. Concurrent computations split the processors besides (see below).
constexpr double kWorkPerThread = 2.5e7;

// The computations running at once in this process share the processors. ggml's threads wait for
// each other at every node by spinning, so computations that each take every processor slow each
// other down far more than they gain: the engine transcribes many pieces at once. Each gets its
// callers' part of the threads it asks for, at least one.
std::atomic<int> callersComputing{0};

class RunningComputation {
  public:
    explicit RunningComputation(int callers) : callers_(callers), total_(callersComputing += callers) {}
    ~RunningComputation() { callersComputing -= callers_; }
    RunningComputation(const RunningComputation&) = delete;
    RunningComputation& operator=(const RunningComputation&) = delete;
    int share(int threads) const { return std::max(1, threads * callers_ / total_); }

  private:
    int callers_;
    int total_;
};

} // namespace

void Graph::compute(int threads, int callers) {
    ggml_backend_ptr backend(ggml_backend_cpu_init());
    if (!backend)
        throw ModelError(ModelError::Code::predictionFailed, "Cannot start the CPU back-end");
    const RunningComputation running(std::max(1, callers));
    const double useful = std::max(1.0, estimatedWork(graph_) / kWorkPerThread);
    ggml_backend_cpu_set_n_threads(backend.get(),
                                   static_cast<int>(std::min<double>(running.share(threads), useful)));
    handToLaterNodes();
    const auto status = ggml_backend_graph_compute(backend.get(), graph_);
    takeFromEarlierNodes();
    if (status != GGML_STATUS_SUCCESS)
        throw ModelError(ModelError::Code::predictionFailed, "A model computation failed");
}

ConstantTensors::ConstantTensors(std::size_t maxTensors) {
    ggml_init_params params{ggml_tensor_overhead() * (maxTensors + 1), nullptr, true};
    context_.reset(ggml_init(params));
    if (!context_)
        throw ModelError(ModelError::Code::predictionFailed, "Not enough memory for model constants");
}

ggml_tensor* ConstantTensors::add(ggml_type type, std::initializer_list<std::int64_t> extents) {
    std::int64_t ne[GGML_MAX_DIMS] = {1, 1, 1, 1};
    std::size_t i = 0;
    for (auto e : extents)
        ne[i++] = e;
    return ggml_new_tensor(context_.get(), type, static_cast<int>(extents.size()), ne);
}

void ConstantTensors::allocate() {
    buffer_.reset(ggml_backend_alloc_ctx_tensors_from_buft(context_.get(), ggml_backend_cpu_buffer_type()));
    if (!buffer_)
        throw ModelError(ModelError::Code::predictionFailed, "Not enough memory for model constants");
}

std::size_t ConstantTensors::bytes() const {
    return buffer_ ? ggml_backend_buffer_get_size(buffer_.get()) : 0;
}

ggml_tensor* layerNorm(ggml_context* ctx, ggml_tensor* x, ggml_tensor* weight, ggml_tensor* bias, float eps) {
    return ggml_add(ctx, ggml_mul(ctx, ggml_norm(ctx, x, eps), weight), bias);
}

ggml_tensor* linear(ggml_context* ctx, ggml_tensor* x, ggml_tensor* weight, ggml_tensor* bias) {
    ggml_tensor* y = ggml_mul_mat(ctx, weight, x);
    return bias ? ggml_add(ctx, y, bias) : y;
}

namespace {

// Each of the `nth` threads takes its run of whole vectors.
void geluErfPart(ggml_tensor* dst, const ggml_tensor* a, int ith, int nth, void*) {
    const NodeRun run;
    const auto n = static_cast<std::size_t>(ggml_nelements(a));
    const std::size_t share =
        ((n + static_cast<std::size_t>(nth) - 1) / static_cast<std::size_t>(nth) + 15) & ~std::size_t{15};
    const std::size_t begin = std::min(n, share * static_cast<std::size_t>(ith));
    const std::size_t end = std::min(n, begin + share);
    geluErf(static_cast<float*>(dst->data) + begin, static_cast<const float*>(a->data) + begin, end - begin);
}

} // namespace

ggml_tensor* geluErf(ggml_context* ctx, ggml_tensor* x) {
    if (x->type != GGML_TYPE_F32)
        return ggml_gelu_erf(ctx, x);
    if (!ggml_is_contiguous(x))
        x = ggml_cont(ctx, x);
    return ggml_map_custom1(ctx, x, geluErfPart, GGML_N_TASKS_MAX, nullptr);
}

} // namespace velnote::platform::ml
