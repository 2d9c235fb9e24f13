#include "platform/ml/convert/PackagedModelFile.h"

#include "platform/ml/convert/ConversionError.h"
#include "support/CheckpointFixtures.h"
#include "support/TempDir.h"

#include <cstring>
#include <gtest/gtest.h>

namespace velnote::platform::ml {
namespace {

using testing::float16Bytes;
using testing::packagedModelBytes;
using testing::PackagedVariable;
using testing::TempDir;
using testing::writeText;

std::string int16Bytes(std::int16_t value) {
    std::string out(2, '\0');
    std::memcpy(out.data(), &value, 2);
    return out;
}

std::vector<PackagedVariable> goodVariables() {
    return {{.name = "encoder/num_heads", .dims = {}, .typeCode = 2, .bytes = int16Bytes(6)},
            {.name = "decoder/embeddings/weight",
             .dims = {2, 3},
             .typeCode = 4,
             .bytes = float16Bytes({1, 2, 3, 4, 5, 6})},
            {.name = "encoder/conv1/bias",
             .dims = {2},
             .typeCode = 0,
             .bytes = std::string("\0\0\x80?\0\0\0@", 8)}};
}

TEST(PackagedModelFileTest, ReadsVariablesScalarsAndAliases) {
    TempDir dir;
    writeText(dir / "model.bin", packagedModelBytes(goodVariables(), {{"decoder/projection/weight",
                                                                       "decoder/embeddings/weight"}}));
    const PackagedModelFile file(dir / "model.bin");
    EXPECT_EQ(file.formatName(), "WhisperSpec");
    const auto& v = file.variables();
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(v.at("encoder/num_heads").integerScalar(), 6);
    EXPECT_EQ(v.at("decoder/embeddings/weight").shape, (std::vector<std::int64_t>{2, 3}));
    EXPECT_EQ(v.at("decoder/projection/weight").toFloat(), (std::vector<float>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(v.at("encoder/conv1/bias").toFloat(), (std::vector<float>{1, 2}));
    EXPECT_FALSE(v.at("encoder/conv1/bias").integerScalar());
}

TEST(PackagedModelFileTest, EveryTruncationIsRejected) {
    TempDir dir;
    const std::string whole = packagedModelBytes(goodVariables(), {{"alias", "encoder/num_heads"}});
    for (std::size_t length = 0; length < whole.size(); ++length) {
        writeText(dir / "model.bin", whole.substr(0, length));
        try {
            PackagedModelFile file(dir / "model.bin");
            ADD_FAILURE() << "accepted a file cut at " << length;
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.code(), ConversionError::Code::malformedFile) << length << ": " << e.what();
        }
    }
}

TEST(PackagedModelFileTest, LyingOrUnknownContentsGiveTheirOwnError) {
    const auto with = [](std::function<void(std::vector<PackagedVariable>&)> change) {
        auto variables = goodVariables();
        change(variables);
        return packagedModelBytes(variables, {});
    };
    struct Case {
        const char* what;
        std::string bytes;
        ConversionError::Code code = ConversionError::Code::malformedFile;
    };
    std::string noNul = packagedModelBytes(goodVariables(), {});
    noNul[4 + 2 + 11] = 'X'; // the format name's terminating NUL
    std::string countLies = packagedModelBytes(goodVariables(), {});
    countLies[4 + 2 + 12 + 4] = '\x7f'; // variable count 127
    const std::vector<Case> cases{
        {"another version", packagedModelBytes(goodVariables(), {}, 7), ConversionError::Code::unsupported},
        {"name without its NUL", noNul},
        {"more variables than the file holds", countLies},
        {"NUL inside a name", with([](auto& v) { v[1].name = std::string("dec\0oder", 8); })},
        {"empty name", with([](auto& v) { v[1].name = ""; })},
        {"byte count lies", with([](auto& v) { v[1].bytes += "xx"; })},
        {"dims product overflows", with([](auto& v) {
             v[1].dims = {0xffffffffu, 0xffffffffu, 0xffffffffu};
         })},
        {"too many dimensions", with([](auto& v) { v[0].dims = std::vector<std::uint32_t>(9, 1); })},
        {"unknown element type", with([](auto& v) { v[1].typeCode = 9; })},
        {"a name twice", with([](auto& v) { v[2] = v[0]; })},
        {"alias to nothing", packagedModelBytes(goodVariables(), {{"x", "nothing"}})},
        {"alias over a variable",
         packagedModelBytes(goodVariables(), {{"encoder/num_heads", "encoder/conv1/bias"}})},
        {"bytes after the end", packagedModelBytes(goodVariables(), {}) + "tail"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeText(dir / "model.bin", c.bytes);
        try {
            PackagedModelFile file(dir / "model.bin");
            ADD_FAILURE() << "accepted";
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.code(), c.code) << e.what();
        }
    }
}

} // namespace
} // namespace velnote::platform::ml
