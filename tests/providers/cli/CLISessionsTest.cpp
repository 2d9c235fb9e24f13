#include "providers/cli/CLIPersistentSession.h"
#include "providers/cli/CLISessionError.h"
#include "providers/cli/CopilotACPSession.h"
#include "providers/cli/LineAssembler.h"
#include "providers/core/RemoteAISummarizationError.h"
#include "providers/support/FakeTools.h"
#include "support/TempDir.h"

#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <sstream>

namespace velnote {
namespace {

using namespace std::chrono_literals;
using Kind = CLISessionError::Kind;
using testing::FakeTools;

template <class F> CLISessionError::Kind failureOf(F&& call) {
    try {
        call();
    } catch (const CLISessionError& e) {
        return e.kind();
    }
    ADD_FAILURE() << "no CLISessionError";
    return Kind::notRunning;
}

std::vector<std::string> linesOf(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A Claude tool in stream-JSON mode: answers each message line with "answer <n>", after a
// second when the message says "slow"; leaves after a message saying "bye".
const char* kClaudeStream = R"(n=0
while IFS= read -r line; do
  n=$((n+1))
  printf '%s\n' "$line" >> "$LINES"
  case "$line" in *slow*) sleep 1;; *bye*) exit 0;; esac
  echo '{"type":"system","subtype":"init"}'
  echo '{"type":"assistant","message":{"content":[{"type":"text","text":"answer '$n'"}]}}'
  echo '{"type":"result","subtype":"success","is_error":false,"result":"answer '$n'"}'
done)";

// A Copilot agent speaking JSON-RPC: the handshake, then per prompt a permission request of its
// own, two message chunks and the prompt's response.
const char* kCopilotAgent = R"(while IFS= read -r line; do
  printf '%s\n' "$line" >> "$LINES"
  id=$(printf '%s' "$line" | sed -n 's/^{"id":\([0-9]*\),.*/\1/p')
  case "$line" in
    *'"method":"initialize"'*) echo "{\"jsonrpc\":\"2.0\",\"id\":$id,\"result\":{\"protocolVersion\":1}}";;
    *'"method":"session/new"'*) echo "{\"jsonrpc\":\"2.0\",\"id\":$id,\"result\":{\"sessionId\":\"s-1\"}}";;
    *'"method":"session/prompt"'*)
      case "$line" in *slow*) sleep 1;; esac
      echo '{"jsonrpc":"2.0","id":99,"method":"session/request_permission","params":{}}'
      echo '{"jsonrpc":"2.0","method":"session/update","params":{"sessionId":"s-1","update":{"sessionUpdate":"agent_message_chunk","content":{"type":"text","text":"Hello "}}}}'
      echo '{"jsonrpc":"2.0","method":"session/update","params":{"sessionId":"s-1","update":{"sessionUpdate":"agent_thought_chunk","content":{"type":"text","text":"hmm"}}}}'
      echo '{"jsonrpc":"2.0","method":"session/update","params":{"sessionId":"s-1","update":{"sessionUpdate":"agent_message_chunk","content":{"type":"text","text":"world '$id'"}}}}'
      echo "{\"jsonrpc\":\"2.0\",\"id\":$id,\"result\":{\"stopReason\":\"end_turn\"}}";;
  esac
done)";

class CLISessionsTest : public ::testing::Test {
  protected:
    CLISessionsTest() : tools(dir.path()), lines("LINES", (dir / "lines").string()) {
        tools.write("claude", kClaudeStream, FakeTools::Input::ignored);
        tools.write("copilot", kCopilotAgent, FakeTools::Input::ignored);
    }

    std::string path() const { return tools.bin().string() + ":/usr/bin:/bin"; }

    testing::TempDir dir;
    FakeTools tools;
    testing::ScopedEnv lines; // where the fake tools record what they read
};

TEST(LineAssemblerTest, CarriesUnfinishedLinesAndCharacters) {
    LineAssembler lines;
    EXPECT_TRUE(lines.push("{\"a\":\"\xe4\xbc").empty());
    EXPECT_EQ(lines.push("\x9a\"}\n\nb"), (std::vector<std::string>{"{\"a\":\"会\"}", ""}));
    EXPECT_EQ(lines.remainder(), "b");

    LineAssembler bounded(4);
    EXPECT_EQ(bounded.push("ab"), std::vector<std::string>{});
    EXPECT_EQ(bounded.push("cd\nefgh\ni"), (std::vector<std::string>{"abcd", "efgh"}));
    EXPECT_THROW(bounded.push("jklm"), LineTooLongError);
}

TEST_F(CLISessionsTest, APersistentClaudeSessionAnswersTurnAfterTurn) {
    CLIPersistentSession session(5s);
    EXPECT_EQ(failureOf([&] { session.send("hello"); }), Kind::notRunning);
    session.start("claude", {"--model", "sonnet"}, path());
    EXPECT_TRUE(session.running());
    EXPECT_EQ(session.send("hello"), "answer 1");
    EXPECT_EQ(session.send("again"), "answer 2");
    EXPECT_EQ(tools.args("claude"),
              (std::vector<std::string>{"--print", "--input-format", "stream-json", "--output-format",
                                        "stream-json", "--verbose", "--model", "sonnet"}));
    const auto written = linesOf(dir / "lines");
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0],
              R"({"message":{"content":[{"text":"hello","type":"text"}],"role":"user"},"type":"user"})");
    EXPECT_EQ(CLIPersistentSession::encodeUserMessage("hello"), written[0] + "\n");
    EXPECT_EQ(failureOf([&] { session.send(std::string("\xff bad")); }), Kind::encodingFailed);
}

TEST_F(CLISessionsTest, ANulByteInAnArgumentOfAKeptToolIsDropped) {
    using namespace std::string_literals;
    CLIPersistentSession claude(5s);
    claude.start("claude", {"--model", "son\0net"s}, path());
    EXPECT_EQ(claude.send("hello"), "answer 1");
    EXPECT_EQ(tools.args("claude").back(), "sonnet");
    CopilotACPSession copilot(5s);
    copilot.start("copilot", {"--model", "g\0pt"s}, path(), dir.path().string());
    EXPECT_EQ(tools.args("copilot"), (std::vector<std::string>{"--acp", "--model", "gpt"}));
}

TEST_F(CLISessionsTest, AfterATimeOutTheNextTurnGetsItsOwnAnswer) {
    // The slow answer takes a second; the session waits 0.8 s for each.
    CLIPersistentSession session(800ms);
    session.start("claude", {}, path());
    EXPECT_EQ(failureOf([&] { session.send("slow question"); }), Kind::timeout);
    // Not busy, and the late "answer 1" coming meanwhile is not taken for this turn's.
    EXPECT_EQ(session.send("next"), "answer 2");
}

TEST_F(CLISessionsTest, ASecondTurnWhileOneWaitsIsBusyAndAnEndedToolIsNotRunning) {
    CLIPersistentSession session(5s);
    session.start("claude", {}, path());
    auto slow = std::async(std::launch::async, [&] { return session.send("slow question"); });
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(failureOf([&] { session.send("meanwhile"); }), Kind::busy);
    EXPECT_EQ(slow.get(), "answer 1");

    EXPECT_EQ(failureOf([&] { session.send("bye"); }), Kind::terminated);
    EXPECT_FALSE(session.running());
    EXPECT_EQ(failureOf([&] { session.send("anyone?"); }), Kind::notRunning);
}

TEST_F(CLISessionsTest, AToolWritingWithoutEndEndsTheSession) {
    const std::string floods[] = {
        "read -r line; tr '\\0' x < /dev/zero", // one endless line
                                                // endless lines of assistant text and never a result
        R"(read -r line; t=$(head -c 65536 /dev/zero | tr '\0' x)
while :; do echo '{"type":"assistant","message":{"content":[{"type":"text","text":"'$t'"}]}}'; done)"};
    for (const auto& flood : floods) {
        tools.write("claude", flood, FakeTools::Input::ignored);
        // The size limit ends it; the time limit is only the test's guard (16 MiB of JSON lines take
        // seconds under the sanitizers on a loaded machine).
        CLIPersistentSession session(120s);
        session.start("claude", {}, path());
        EXPECT_EQ(failureOf([&] { session.send("hello"); }), Kind::terminated) << flood;
        EXPECT_FALSE(session.running());
    }
}

TEST_F(CLISessionsTest, ACopilotAgentSessionShakesHandsAndNumbersItsRequests) {
    CopilotACPSession session(5s);
    EXPECT_EQ(failureOf([&] { session.send("hello"); }), Kind::notRunning);
    session.start("copilot", {}, path(), dir.path().string());
    EXPECT_EQ(session.send("hello"), "Hello world 3");
    EXPECT_EQ(session.send("again"), "Hello world 4");
    EXPECT_EQ(session.send("more"), "Hello world 5");
    EXPECT_EQ(tools.args("copilot"), (std::vector<std::string>{"--acp"}));

    const auto written = linesOf(dir / "lines");
    ASSERT_GE(written.size(), 5u);
    EXPECT_EQ(written[0], R"({"id":1,"jsonrpc":"2.0","method":"initialize",)"
                          R"("params":{"protocolVersion":1,"clientCapabilities":{}}})");
    EXPECT_EQ(written[1], R"({"id":2,"jsonrpc":"2.0","method":"session/new","params":{"cwd":")" +
                              dir.path().string() + R"(","mcpServers":[]}})");
    EXPECT_EQ(written[2], R"({"id":3,"jsonrpc":"2.0","method":"session/prompt",)"
                          R"("params":{"prompt":[{"text":"hello","type":"text"}],"sessionId":"s-1"}})");
    // The agent's own request was refused, not left hanging.
    EXPECT_NE(
        std::find(
            written.begin(), written.end(),
            R"({"error":{"code":-32601,"message":"not offered by this client"},"id":99,"jsonrpc":"2.0"})"),
        written.end());
}

TEST_F(CLISessionsTest, AfterATimeOutTheAgentSessionWorksAgain) {
    CopilotACPSession session(800ms);
    session.start("copilot", {}, path(), dir.path().string());
    EXPECT_EQ(failureOf([&] { session.send("slow question"); }), Kind::timeout);
    // The late chunks and response of request 3 come while request 4 waits; it gets its own.
    EXPECT_EQ(session.send("next"), "Hello world 4");
}

} // namespace
} // namespace velnote
