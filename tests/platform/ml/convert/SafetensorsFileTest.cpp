#include "platform/ml/convert/SafetensorsFile.h"

#include "platform/ml/convert/ConversionError.h"
#include "support/CheckpointFixtures.h"
#include "support/TempDir.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velnote::platform::ml {
namespace {

using testing::FixtureTensor;
using testing::safetensorsBytes;
using testing::TempDir;
using testing::writeText;

TEST(SafetensorsFileTest, ReadsEveryElementTypeWithItsShape) {
    TempDir dir;
    const std::vector<float> values{1.0f, -2.5f, 0.125f, 3.0f, 65504.0f, -0.0f};
    testing::FixtureTensors tensors;
    for (const char* dtype : {"F32", "F16", "BF16"})
        tensors[std::string("t.") + dtype] = FixtureTensor{.dtype = dtype, .shape = {2, 3}, .values = values};
    tensors["empty"] = FixtureTensor{.dtype = "F32", .shape = {0, 4}, .values = {}};
    writeText(dir / "m.safetensors", safetensorsBytes(tensors));

    const SafetensorsFile file(dir / "m.safetensors");
    ASSERT_EQ(file.tensors().size(), 4u);
    for (const char* dtype : {"F32", "F16", "BF16"}) {
        SCOPED_TRACE(dtype);
        const auto& tensor = file.tensors().at(std::string("t.") + dtype);
        EXPECT_EQ(tensor.shape, (std::vector<std::int64_t>{2, 3}));
        const auto read = tensor.toFloat();
        // bfloat16 keeps 8 bits of mantissa: within 1/128 of the value.
        for (std::size_t i = 0; i < values.size(); ++i)
            EXPECT_NEAR(read[i], values[i], std::abs(values[i]) / 128) << i;
    }
    EXPECT_TRUE(file.tensors().at("empty").toFloat().empty());
}

struct BadFile {
    const char* what;
    std::string bytes;
    ConversionError::Code code = ConversionError::Code::malformedFile;
};

std::string withLength(std::uint64_t length, const std::string& rest) {
    std::string out(8, '\0');
    std::memcpy(out.data(), &length, 8);
    return out + rest;
}

std::string oneTensor(const std::string& entry, const std::string& data) {
    return safetensorsBytes(R"({"w":)" + entry + "}", data);
}

TEST(SafetensorsFileTest, BadFilesGiveTheirOwnErrorNeverACrash) {
    const std::string eight(8, 'x');
    const std::vector<BadFile> cases{
        {"empty file", ""},
        {"shorter than the length field", "abc"},
        {"header length past the end", withLength(1000, "{}")},
        {"header length overflows", withLength(~std::uint64_t{0}, "{}")},
        {"header length nearly overflows", withLength(~std::uint64_t{0} - 7, "{}")},
        {"header not JSON", safetensorsBytes("{\"w\":", "")},
        {"header an array", safetensorsBytes("[1,2]", "")},
        {"entry not an object", oneTensor("3", "")},
        {"dtype missing", oneTensor(R"({"shape":[2],"data_offsets":[0,8]})", eight)},
        {"dtype unknown", oneTensor(R"({"dtype":"F8_E4M3","shape":[2],"data_offsets":[0,2]})", "xx"),
         ConversionError::Code::unsupported},
        {"offsets past the data", oneTensor(R"({"dtype":"F32","shape":[2],"data_offsets":[0,16]})", eight)},
        {"offsets reversed", oneTensor(R"({"dtype":"F32","shape":[0],"data_offsets":[8,0]})", eight)},
        {"offsets huge",
         oneTensor(R"({"dtype":"F32","shape":[2],"data_offsets":[18446744073709551615,8]})", eight)},
        {"offsets negative", oneTensor(R"({"dtype":"F32","shape":[2],"data_offsets":[-8,0]})", eight)},
        {"offsets one number", oneTensor(R"({"dtype":"F32","shape":[2],"data_offsets":[8]})", eight)},
        {"shape does not fill the bytes",
         oneTensor(R"({"dtype":"F32","shape":[3],"data_offsets":[0,8]})", eight)},
        {"shape negative", oneTensor(R"({"dtype":"F32","shape":[-2],"data_offsets":[0,8]})", eight)},
        {"shape product overflows",
         oneTensor(R"({"dtype":"F32","shape":[4294967296,4294967296,4],"data_offsets":[0,0]})", "")},
        {"shape 1e999", oneTensor(R"({"dtype":"F32","shape":[1e999],"data_offsets":[0,8]})", eight)},
        {"shape too many dimensions",
         oneTensor(R"({"dtype":"F32","shape":[1,1,1,1,1,1,1,1,1,2],"data_offsets":[0,8]})", eight)},
        {"NUL in a name",
         safetensorsBytes(R"({"a\u0000b":{"dtype":"F32","shape":[2],"data_offsets":[0,8]}})", eight)},
        {"empty name", safetensorsBytes(R"({"":{"dtype":"F32","shape":[2],"data_offsets":[0,8]}})", eight)},
        {"deep JSON",
         safetensorsBytes(R"({"__metadata__":)" + std::string(100000, '[') + std::string(100000, ']') + "}",
                          "")},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeText(dir / "bad.safetensors", c.bytes);
        try {
            SafetensorsFile file(dir / "bad.safetensors");
            ADD_FAILURE() << "accepted";
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.code(), c.code) << e.what();
            EXPECT_NE(std::string(e.what()).find("bad.safetensors"), std::string::npos) << e.what();
        }
    }
}

TEST(SafetensorsFileTest, EveryTruncationOfAGoodFileIsRejected) {
    TempDir dir;
    testing::FixtureTensors tensors;
    tensors["a"] = FixtureTensor{.dtype = "F16", .shape = {3}, .values = {1, 2, 3}};
    tensors["b"] = FixtureTensor{.dtype = "F32", .shape = {2}, .values = {4, 5}};
    const std::string whole = safetensorsBytes(tensors);
    for (std::size_t length = 0; length < whole.size(); ++length) {
        writeText(dir / "cut.safetensors", whole.substr(0, length));
        EXPECT_THROW(SafetensorsFile(dir / "cut.safetensors"), ConversionError) << length;
    }
    writeText(dir / "whole.safetensors", whole);
    EXPECT_EQ(SafetensorsFile(dir / "whole.safetensors").tensors().size(), 2u);
}

TEST(SafetensorsFileTest, MissingFileOrFolderIsUnreadable) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo.safetensors").c_str(), 0600), 0); // no writer: must not be waited on
    for (const auto& path : {dir / "absent.safetensors", dir.path(), dir / "fifo.safetensors"}) {
        try {
            SafetensorsFile file(path);
            ADD_FAILURE() << "accepted " << path;
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.code(), ConversionError::Code::unreadableSource);
        }
    }
}

} // namespace
} // namespace velnote::platform::ml
