#include "platform/json/Json.h"

#include "platform/json/IsoDate.h"

#include <gtest/gtest.h>

namespace velnote::platform {
namespace {

struct Summary {
    std::string provider;
    std::optional<std::string> model;
};

struct Segment {
    std::string text;
    double start = 0;
};

struct Config {
    std::string name;
    std::optional<std::int32_t> count;
    std::optional<bool> enabled;
    std::optional<std::chrono::sys_seconds> createdAt;
    Summary summary;
    std::vector<Segment> segments;
};

void from_json(const Json& j, Summary& s) {
    s.provider = required<std::string>(j, "provider");
    s.model = optional<std::string>(j, "model");
}

void to_json(Json& j, const Summary& s) {
    j = Json::object();
    j["provider"] = s.provider;
    setIfPresent(j, "model", s.model);
}

void from_json(const Json& j, Segment& s) {
    s.text = required<std::string>(j, "text");
    s.start = required<double>(j, "start");
}

void to_json(Json& j, const Segment& s) {
    j = Json{{"text", s.text}, {"start", s.start}};
}

void from_json(const Json& j, Config& c) {
    c.name = required<std::string>(j, "name");
    c.count = optional<std::int32_t>(j, "count");
    c.enabled = optional<bool>(j, "enabled");
    c.createdAt = optional<std::chrono::sys_seconds>(j, "createdAt");
    c.summary = required<Summary>(j, "summary");
    c.segments = optional<std::vector<Segment>>(j, "segments").value_or(std::vector<Segment>{});
}

void to_json(Json& j, const Config& c) {
    j = Json::object();
    j["name"] = c.name;
    setIfPresent(j, "count", c.count);
    setIfPresent(j, "enabled", c.enabled);
    setIfPresent(j, "createdAt", c.createdAt);
    j["summary"] = c.summary;
    j["segments"] = c.segments;
}

// The session file keeps its configuration under "config".
struct Session {
    Config config;
};

void from_json(const Json& j, Session& s) {
    s.config = required<Config>(j, "config");
}

struct DecodeCase {
    const char* label;
    const char* configJson;  // the value under "config"
    const char* failingPath; // nullptr when decoding succeeds
};

TEST(JsonDecodeTest, StrictDecodingTable) {
    const DecodeCase cases[] = {
        {"minimal", R"({"name":"a","summary":{"provider":"p"}})", nullptr},
        {"unknown keys ignored", R"({"name":"a","future":[1],"summary":{"provider":"p","x":1}})", nullptr},
        {"null optional is absent", R"({"name":"a","count":null,"summary":{"provider":"p","model":null}})",
         nullptr},
        {"missing required", R"({"summary":{"provider":"p"}})", "config.name"},
        {"null required", R"({"name":null,"summary":{"provider":"p"}})", "config.name"},
        {"wrong type required", R"({"name":3,"summary":{"provider":"p"}})", "config.name"},
        {"wrong type optional", R"({"name":"a","count":"3","summary":{"provider":"p"}})", "config.count"},
        {"float for integer", R"({"name":"a","count":2.5,"summary":{"provider":"p"}})", "config.count"},
        {"integer out of range", R"({"name":"a","count":4294967296,"summary":{"provider":"p"}})",
         "config.count"},
        {"number for bool", R"({"name":"a","enabled":1,"summary":{"provider":"p"}})", "config.enabled"},
        {"bad date", R"({"name":"a","createdAt":"2025-02-30T00:00:00Z","summary":{"provider":"p"}})",
         "config.createdAt"},
        {"nested missing", R"({"name":"a","summary":{}})", "config.summary.provider"},
        {"nested not an object", R"({"name":"a","summary":[]})", "config.summary"},
        {"array element",
         R"({"name":"a","summary":{"provider":"p"},"segments":[{"text":"x","start":0},{"text":"y"}]})",
         "config.segments[1].start"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const Json session = parseJson(std::string(R"({"config":)") + c.configJson + "}");
        if (c.failingPath == nullptr) {
            EXPECT_NO_THROW(decode<Session>(session));
            continue;
        }
        try {
            decode<Session>(session);
            ADD_FAILURE() << "decoded without error";
        } catch (const JsonDecodeError& e) {
            EXPECT_EQ(e.path(), c.failingPath) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind(std::string(c.failingPath) + ": ", 0), 0u) << e.what();
        }
    }
}

TEST(JsonDecodeTest, ReadsValuesAndLeavesAbsentOptionalsUnwritten) {
    const auto config = decode<Config>(parseJson(
        R"({"name":"a","count":-7,"enabled":false,"createdAt":"2025-01-31T09:15:00+09:00",
            "summary":{"provider":"p"},"segments":[{"text":"x","start":1}]})"));
    EXPECT_EQ(config.count, -7);
    EXPECT_EQ(config.enabled, false);
    EXPECT_EQ(config.createdAt, std::chrono::sys_days(std::chrono::January / 31 / 2025) +
                                    std::chrono::hours(0) + std::chrono::minutes(15));
    ASSERT_EQ(config.segments.size(), 1u);
    EXPECT_EQ(config.segments[0].start, 1.0); // an integer is a fine double

    Json written = Config{"a", std::nullopt, std::nullopt, std::nullopt, {"p", std::nullopt}, {}};
    EXPECT_FALSE(written.contains("count"));
    EXPECT_FALSE(written.contains("enabled"));
    EXPECT_FALSE(written.contains("createdAt"));
    EXPECT_FALSE(written["summary"].contains("model"));

    written = config;
    EXPECT_EQ(written["createdAt"], "2025-01-31T00:15:00Z");
    const auto reread = decode<Config>(written);
    EXPECT_EQ(reread.createdAt, config.createdAt);
    EXPECT_EQ(reread.count, config.count);
}

TEST(JsonWriteTest, PrettyIsSortedIndentedAndEndsWithOneNewline) {
    Json value = Json::object();
    value["zeta"] = 1;
    value["alpha"] = Json{{"b", true}, {"a", Json::array({1, 2})}};
    EXPECT_EQ(toPrettyJson(value), "{\n"
                                   "  \"alpha\": {\n"
                                   "    \"a\": [\n"
                                   "      1,\n"
                                   "      2\n"
                                   "    ],\n"
                                   "    \"b\": true\n"
                                   "  },\n"
                                   "  \"zeta\": 1\n"
                                   "}\n");
    EXPECT_EQ(toCompactJson(value), R"({"alpha":{"a":[1,2],"b":true},"zeta":1})");
}

TEST(JsonWriteTest, InvalidUtf8IsReplacedNotThrown) {
    const Json value = std::string("ok\xff");
    EXPECT_EQ(toCompactJson(value), "\"ok\xEF\xBF\xBD\"");
}

TEST(JsonParseTest, MalformedTextThrowsDecodeError) {
    // A number too large for a double is nlohmann's out_of_range, not a parse error.
    for (const char* text : {"", "{", "{\"a\":1} x", "[1,]", "1e999", "{\"a\":-1e999}", "\"\\ud800\""}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(parseJson(text), JsonDecodeError);
    }
    EXPECT_THROW(required<int>(parseJson("[1]"), "a"), JsonDecodeError);
}

TEST(JsonParseTest, DepthLimitCountsTheOutermostValueAsOne) {
    EXPECT_EQ(parseJson("[[1]]", 2), Json::parse("[[1]]"));
    EXPECT_EQ(parseJson(R"({"a":{"b":1}})", 2)["a"]["b"], 1);
    EXPECT_THROW(parseJson("[[[1]]]", 2), JsonDecodeError);
    EXPECT_THROW(parseJson(R"({"a":{"b":[]}})", 2), JsonDecodeError);
    EXPECT_THROW(parseJson(std::string(100000, '[') + std::string(100000, ']'), 64), JsonDecodeError);
    EXPECT_THROW(parseJson("[1e999]", 4), JsonDecodeError);
}

TEST(JsonParseTest, DefaultDepthLimitKeepsEveryReaderFromDeepNesting) {
    const auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_NO_THROW(parseJson(nested(kJsonDepthLimit)));
    EXPECT_THROW(parseJson(nested(kJsonDepthLimit + 1)), JsonDecodeError);
    EXPECT_THROW(parseJson(R"({"a":)" + nested(5000) + "}"), JsonDecodeError);
}

TEST(JsonParseTest, RefusesNulBytesInsteadOfStoppingAtThem) {
    // The parser reads a NUL as the end of input: "{}" and the rest silently dropped.
    for (const std::string& text :
         {std::string("{}\0{\"a\":1}", 10), std::string("{\"a\":1}\0", 8), std::string("[1,\0 2]", 7)}) {
        EXPECT_THROW(parseJson(text), JsonDecodeError);
        EXPECT_THROW(parseJson(text, 4), JsonDecodeError);
    }
    // An escaped NUL is an ordinary character of a string.
    EXPECT_EQ(parseJson(R"(["a\u0000b"])")[0], std::string("a\0b", 3));
}

TEST(JsonDecodeTest, FloatRefusesNumbersBeyondItsRange) {
    EXPECT_THROW(decode<float>(parseJson("1e300")), JsonDecodeError);
    EXPECT_THROW(decode<float>(parseJson("-1e39")), JsonDecodeError);
    EXPECT_EQ(decode<float>(parseJson("1e38")), 1e38f);
    EXPECT_EQ(decode<double>(parseJson("1e300")), 1e300);
}

} // namespace
} // namespace velnote::platform
