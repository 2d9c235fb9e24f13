#include "support/SpeechFiles.h"

#include <memory>
#include <sndfile.h>
#include <stdexcept>

namespace velnote::testing {

std::vector<float> readSpeech16k(const std::filesystem::path& path) {
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(sf_open(path.c_str(), SFM_READ, &info), sf_close);
    if (!file)
        throw std::runtime_error("cannot read " + path.string() + ": " + sf_strerror(nullptr));
    if (info.samplerate != 16000 || info.channels != 1)
        throw std::runtime_error(path.string() + " is not mono 16 kHz");
    std::vector<float> samples(static_cast<std::size_t>(info.frames));
    if (sf_readf_float(file.get(), samples.data(), info.frames) != info.frames)
        throw std::runtime_error("cannot read all of " + path.string());
    return samples;
}

} // namespace velnote::testing
