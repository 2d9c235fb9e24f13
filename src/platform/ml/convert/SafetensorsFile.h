#pragma once

#include "platform/ml/convert/MappedFile.h"
#include "platform/ml/convert/SourceTensor.h"

#include <filesystem>
#include <map>
#include <string>

namespace velnote::platform::ml {

// A checkpoint in the safetensors layout: an 8-byte little-endian header length, a JSON header
// naming each tensor's element type, shape and byte range, then the data. Every offset, size
// and name is checked against the file before any tensor is handed out, so a truncated or
// lying file is a ConversionError (malformedFile), never a read out of bounds.
class SafetensorsFile {
  public:
    // Throws ConversionError: unreadableSource, malformedFile, or unsupported for an element
    // type other than F32, F16, BF16, I8, I16, I32.
    explicit SafetensorsFile(const std::filesystem::path& path);

    // By name; the tensors point into this object's mapping.
    const std::map<std::string, SourceTensor>& tensors() const { return tensors_; }

  private:
    MappedFile file_;
    std::map<std::string, SourceTensor> tensors_;
};

} // namespace velnote::platform::ml
