#pragma once

#include "platform/ml/convert/MappedFile.h"
#include "platform/ml/convert/SourceTensor.h"

#include <filesystem>
#include <map>
#include <string>

namespace velnote::platform::ml {

// The "model.bin" weight file that the pinned weight packages carry (split over packages as
// model.bin.part1, .part2, ..., joined by scripts/fetch-models). Its layout, all little-endian:
//
//   u32 version (6)   str spec name ("WhisperSpec")   u32 spec revision   u32 variable count
//   per variable:   str name ("encoder/conv1/weight")   u8 rank   u32 dims[rank]
//                   u8 element type   u32 byte count   bytes
//   u32 alias count   per alias:   str alias   str name of the variable it stands for
//
// where `str` is a u16 byte count followed by the bytes, the last of them a NUL. Element types:
// 0 float32, 1 int8, 2 int16, 3 int32, 4 float16, 5 bfloat16. Scalars (rank 0) hold settings
// such as "encoder/num_heads". Every count and size is checked against the file.
class PackagedModelFile {
  public:
    // Throws ConversionError: unreadableSource, malformedFile, or unsupported for another
    // version or an unknown element type.
    explicit PackagedModelFile(const std::filesystem::path& path);

    const std::string& formatName() const { return formatName_; }
    // Variables and aliases by name; the tensors point into this object's mapping.
    const std::map<std::string, SourceTensor>& variables() const { return variables_; }

  private:
    MappedFile file_;
    std::string formatName_;
    std::map<std::string, SourceTensor> variables_;
};

} // namespace velnote::platform::ml
