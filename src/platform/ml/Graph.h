#pragma once

#include <cstddef>
#include <cstdint>
#include <ggml-alloc.h>
#include <ggml-cpp.h>
#include <ggml.h>
#include <initializer_list>
#include <vector>

namespace velnote::platform::ml {

// One ggml computation on the CPU, built, run and read by one thread: create inputs, build the
// graph on context(), mark outputs, allocate(), set the inputs' data, compute(), read the outputs.
// Every buffer belongs to this object, so concurrent predictions each use their own.
class Graph {
  public:
    explicit Graph(std::size_t maxNodes = 8192);

    ggml_context* context() const { return context_.get(); }

    // A new input tensor of ggml's extents (ne0 first, the fastest-moving axis).
    ggml_tensor* input(ggml_type type, std::initializer_list<std::int64_t> extents);
    void output(ggml_tensor* tensor);

    // Allocates every tensor of the graph that has no memory yet. Throws ModelError
    // (predictionFailed) when the memory cannot be had.
    void allocate();
    // Copies ggml_nbytes(tensor) bytes into an allocated input.
    static void set(ggml_tensor* tensor, const void* data);
    // Runs the graph on up to `threads` threads. `callers` is how many predictions the computation
    // serves: a batch of them gets the processors' share of them all. Throws ModelError
    // (predictionFailed) when ggml reports a failure.
    void compute(int threads, int callers = 1);

  private:
    ggml_context_ptr context_;
    ggml_cgraph* graph_ = nullptr;
    std::vector<ggml_tensor*> outputs_;
    ggml_gallocr_ptr allocator_;
};

// Tensors a network computes once when it is made and keeps (a DFT basis, cached projections):
// declare them all, then allocate() once; set their data before the first graph reads them.
class ConstantTensors {
  public:
    explicit ConstantTensors(std::size_t maxTensors);
    ggml_tensor* add(ggml_type type, std::initializer_list<std::int64_t> extents);
    // Throws ModelError (predictionFailed) when the memory cannot be had.
    void allocate();
    std::size_t bytes() const;

  private:
    ggml_context_ptr context_;
    ggml_backend_buffer_ptr buffer_;
};

// ggml's threads meet at a barrier after every node, inside libgomp, which ThreadSanitizer does not
// see; it would take our own kernels' accesses on those threads for races (and slow to a crawl
// checking each). A kernel of ours that runs as a node holds a NodeRun for its run, and
// Graph::compute() hands over around the whole computation, so the sanitizer knows what the
// barriers order: all work before a node happens before it, the node before all work after it.
// Nothing in other builds.
void handToLaterNodes();
void takeFromEarlierNodes();
class NodeRun {
  public:
    NodeRun() { takeFromEarlierNodes(); }
    ~NodeRun() { handToLaterNodes(); }
    NodeRun(const NodeRun&) = delete;
    NodeRun& operator=(const NodeRun&) = delete;
};

// Building blocks shared by the speech networks; x is [width, tokens].
ggml_tensor* layerNorm(ggml_context* ctx, ggml_tensor* x, ggml_tensor* weight, ggml_tensor* bias, float eps);
// W x (+ b) for a weight of the checkpoint's [out, in] shape (ggml [in, out]).
ggml_tensor* linear(ggml_context* ctx, ggml_tensor* x, ggml_tensor* weight, ggml_tensor* bias);
// GELU with the exact erf, on the widest vector unit: ggml's own calls the C library's erff for one
// element at a time, about 7 % of a transcription's processor time.
ggml_tensor* geluErf(ggml_context* ctx, ggml_tensor* x);

} // namespace velnote::platform::ml
