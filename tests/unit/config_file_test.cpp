// config.json: the two extractors at their documented quirks, and the start-up gate.
#include <gtest/gtest.h>

#include "discovery/ConfigFile.h"
#include "discovery/ServerFile.h"
#include "tests/support/TestSupport.h"

namespace vesperline {
namespace {

std::string Fixture(const std::string& name) {
  const auto text =
      ReadServerFile(std::string(VESPERLINE_SOURCE_DIR) + "/tests/fixtures/config/" + name);
  if (!text) ADD_FAILURE() << "missing fixture " << name;
  return text.value_or("");
}

TEST(ReadJsonStringTest, TakesTheBytesBetweenTheNextTwoQuotesAfterTheColon) {
  EXPECT_EQ(ReadJsonString(R"({"token": "abc", "ip": "203.0.113.7"})", "ip"), "203.0.113.7");
  EXPECT_EQ(ReadJsonString("{\"token\"  \r\n :\r\n\t \"abc\"}", "token"), "abc");
  EXPECT_EQ(ReadJsonString(R"({"token" junk: "abc"})", "token"), "abc");
  EXPECT_EQ(ReadJsonString(R"({"token": ""})", "token"), "");
}

TEST(ReadJsonStringTest, AnUnquotedValueTakesTheNextQuotedText) {
  EXPECT_EQ(ReadJsonString(R"({"token": 12345, "ip": "203.0.113.7"})", "token"), "ip");
}

TEST(ReadJsonStringTest, AnEscapedQuoteEndsTheValueWithItsBackslash) {
  EXPECT_EQ(ReadJsonString(R"({"token": "ab\"cd"})", "token"), "ab\\");
}

TEST(ReadJsonStringTest, TheFirstExactOccurrenceOfTheQuotedKeyCounts) {
  EXPECT_EQ(ReadJsonString(R"({"Token": "abc"})", "token"), "");
  EXPECT_EQ(ReadJsonString(R"({"server": {"token": "inner"}, "token": "outer"})", "token"),
            "inner");
  EXPECT_EQ(ReadJsonString(R"({"token": "first", "token": "second"})", "token"), "first");
  EXPECT_EQ(ReadJsonString(R"({"tokens": "abc"})", "token"), "");
}

TEST(ReadJsonStringTest, AMissingColonOrQuoteGivesEmptyText) {
  EXPECT_EQ(ReadJsonString(R"({"token" "abc"})", "token"), "");
  EXPECT_EQ(ReadJsonString(R"({"token": abc})", "token"), "");
  EXPECT_EQ(ReadJsonString(R"({"token": "abc)", "token"), "");
  EXPECT_EQ(ReadJsonString("", "token"), "");
}

TEST(ReadJsonIntTest, ReadsTheLeadingDecimalNumberAfterTheColon) {
  EXPECT_EQ(ReadJsonInt(R"({"port": 7777})", "port"), 7777);
  EXPECT_EQ(ReadJsonInt("{\"port\" \r\n\t: \r\n\t 7777\n}", "port"), 7777);
  EXPECT_EQ(ReadJsonInt(R"({"port": 7777.9})", "port"), 7777);
  EXPECT_EQ(ReadJsonInt(R"({"port": 7777abc})", "port"), 7777);
  EXPECT_EQ(ReadJsonInt(R"({"port": -5})", "port"), -5);
  EXPECT_EQ(ReadJsonInt(R"({"port": 70000})", "port"), 70000) << "no upper bound for a port";
  EXPECT_EQ(ReadJsonInt(R"({"port": 2147483647})", "port"), 2147483647);
}

TEST(ReadJsonIntTest, NoUsableNumberGivesZero) {
  EXPECT_EQ(ReadJsonInt(R"({"port": "7777"})", "port"), 0) << "a quoted port";
  EXPECT_EQ(ReadJsonInt(R"({"port": 2147483648})", "port"), 0);
  EXPECT_EQ(ReadJsonInt(R"({"port": -2147483649})", "port"), 0);
  EXPECT_EQ(ReadJsonInt(R"({"Port": 7777})", "port"), 0);
  EXPECT_EQ(ReadJsonInt(R"({"port": })", "port"), 0);
  EXPECT_EQ(ReadJsonInt("{\"port\":", "port"), 0);
  EXPECT_EQ(ReadJsonInt("{\"port\": \r\n", "port"), 0);
  EXPECT_EQ(ReadJsonInt(R"({"port" 7777})", "port"), 0);
}

TEST(DirectoryOfTest, CutsAfterTheLastSeparatorOfEitherKind) {
  EXPECT_EQ(DirectoryOf("C:\\ARK\\Plugins\\Vesperline\\Vesperline.dll"),
            "C:\\ARK\\Plugins\\Vesperline\\");
  EXPECT_EQ(DirectoryOf("C:\\ARK/Plugins/Vesperline.dll"), "C:\\ARK/Plugins/");
  EXPECT_EQ(DirectoryOf("Vesperline.dll"), "");
  EXPECT_EQ(DirectoryOf(""), "");
}

// The gate: LoadConfig over a file's text and a command line whose reading is counted.
class ConfigGateTest : public ::testing::Test {
 protected:
  bool Apply(const std::optional<std::string>& file, const std::string& commandLine) {
    return LoadConfig(facts_, file, [&] {
      ++commandLineReads_;
      return commandLine;
    });
  }
  ServerFacts facts_;
  int commandLineReads_ = 0;
};

constexpr char kLaunch[] = R"("C:\ARK\ShooterGameServer.exe" TheIsland_WP?listen?Port=7777)";

TEST_F(ConfigGateTest, NoFileFailsWithoutLookingAtTheCommandLine) {
  facts_.Token = "earlier";
  EXPECT_FALSE(Apply(std::nullopt, kLaunch));
  EXPECT_EQ(commandLineReads_, 0);
  EXPECT_EQ(facts_.Token, "earlier");
  EXPECT_EQ(facts_.ServerPort, 0);
}

TEST_F(ConfigGateTest, APortInTheFileWinsAndTheCommandLineIsNotRead) {
  EXPECT_TRUE(Apply(R"({"token":"abc","ip":"203.0.113.7","port":7000})", kLaunch));
  EXPECT_EQ(facts_.ServerPort, 7000);
  EXPECT_EQ(commandLineReads_, 0);
}

TEST_F(ConfigGateTest, AMissingPortIsTakenFromTheCommandLine) {
  EXPECT_TRUE(Apply(Fixture("utf8_bom_without_port.json"), kLaunch));
  EXPECT_EQ(facts_.Token, "abc123");
  EXPECT_EQ(facts_.ServerIp, "203.0.113.7");
  EXPECT_EQ(facts_.ServerPort, 7777);
  EXPECT_EQ(commandLineReads_, 1);
}

TEST_F(ConfigGateTest, AQuotedPortIsTakenFromTheCommandLine) {
  EXPECT_TRUE(Apply(Fixture("quoted_port.json"), kLaunch));
  EXPECT_EQ(facts_.ServerPort, 7777);
}

TEST_F(ConfigGateTest, AZeroOrNegativePortNeedsALaunchPort) {
  EXPECT_TRUE(Apply(R"({"token":"abc","ip":"203.0.113.7","port":0})", kLaunch));
  EXPECT_EQ(facts_.ServerPort, 7777);
  EXPECT_FALSE(Apply(R"({"token":"abc","ip":"203.0.113.7","port":0})", "ShooterGameServer.exe"));
  EXPECT_EQ(facts_.ServerPort, 0) << "the file's 0 replaces the earlier port";
  EXPECT_FALSE(Apply(R"({"token":"abc","ip":"203.0.113.7","port":-5})", "Server.exe Map?listen"));
  EXPECT_EQ(facts_.ServerPort, -5);
  EXPECT_TRUE(Apply(R"({"token":"abc","ip":"203.0.113.7","port":-5})", "S.exe M -port=7778"));
  EXPECT_EQ(facts_.ServerPort, 7778);
}

TEST_F(ConfigGateTest, AnEmptyTokenOrAddressFails) {
  EXPECT_FALSE(Apply(R"({"token":"","ip":"203.0.113.7","port":7777})", ""));
  EXPECT_FALSE(Apply(R"({"token":"abc","ip":"","port":7777})", ""));
  EXPECT_EQ(facts_.Token, "abc");
  EXPECT_FALSE(Apply("", ""));
  EXPECT_EQ(facts_.Token, "") << "an empty file replaces every value";
}

TEST_F(ConfigGateTest, ANotepadUnicodeFileIsRead) {
  EXPECT_TRUE(Apply(Fixture("utf16_notepad.json"), ""));
  EXPECT_EQ(facts_.Token, "t\xC3\xB6ken-\xF0\x9F\xA6\x96");
  EXPECT_EQ(facts_.ServerIp, "203.0.113.7");
  EXPECT_EQ(facts_.ServerPort, 7777);
}

// The notes an admin's checker shows: where token, address and port came from and why the other
// sources were passed over.
class ConfigNotesTest : public ::testing::Test {
 protected:
  bool Apply(const std::optional<std::string>& file, const std::string& commandLine) {
    notes_.clear();
    ConfigSources sources;
    const bool usable = LoadConfig(
        facts_, file, [&] { return commandLine; }, &sources);
    AddConfigNotes(sources, facts_, notes_);
    return usable;
  }
  // "source: used/passed over: detail" for every note of the fact, in order.
  std::vector<std::string> Of(const std::string& fact) const {
    std::vector<std::string> lines;
    for (const SourceNote& note : notes_) {
      if (note.Fact == fact) {
        lines.push_back(note.Source + (note.Used ? ": used: " : ": passed over: ") + note.Detail);
      }
    }
    return lines;
  }
  ServerFacts facts_;
  std::vector<SourceNote> notes_;
};

using Lines = std::vector<std::string>;

TEST_F(ConfigNotesTest, AQuotedPortIsPassedOverForTheQuestionPortArgument) {
  EXPECT_TRUE(Apply(Fixture("quoted_port.json"), kLaunch));
  EXPECT_EQ(Of("port"),
            (Lines{
                "config.json \"port\": passed over: quoted: only a bare number counts, so 0",
                "launch argument ?Port=: used: gave 7777",
                "launch argument -port=: passed over: not read: ?Port= gives the port",
            }));
}

TEST_F(ConfigNotesTest, EachWayAPortCanBeMissingIsNamed) {
  EXPECT_FALSE(Apply(R"({"token":"abc","ip":"203.0.113.7"})", "S.exe TheIsland_WP?Port=x"));
  EXPECT_EQ(Of("port"), (Lines{
                            "config.json \"port\": passed over: no \"port\" key (keys are "
                            "matched with their case)",
                            "launch argument ?Port=: passed over: not followed by a number",
                            "launch argument -port=: passed over: absent",
                        }));
  EXPECT_TRUE(Apply(R"({"token":"abc","ip":"203.0.113.7","port":-5})", "S.exe M -port=7778"));
  EXPECT_EQ(Of("port"), (Lines{
                            "config.json \"port\": passed over: gave -5, which is not above 0",
                            "launch argument ?Port=: passed over: absent",
                            "launch argument -port=: used: gave 7778",
                        }));
  EXPECT_FALSE(Apply(R"({"token":"abc","ip":"203.0.113.7","port":99999999999})", ""));
  EXPECT_EQ(Of("port")[0],
            "config.json \"port\": passed over: not a number in the signed 32-bit range, so 0");
  EXPECT_TRUE(Apply(R"({"token":"abc","ip":"203.0.113.7","port":7000})", kLaunch));
  EXPECT_EQ(Of("port"), (Lines{
                            "config.json \"port\": used: gave 7000",
                            "launch arguments: passed over: not read: config.json gives the port",
                        }));
}

TEST_F(ConfigNotesTest, TheTokenIsDescribedButNeverShown) {
  EXPECT_TRUE(Apply(R"({"token":" s3cr\u00e9t","ip":"203.0.113.7","port":7777})", ""));
  EXPECT_EQ(Of("token"), (Lines{"config.json \"token\": used: gave a value of 12 characters (it "
                                "begins or ends with a blank, which is sent as it is)"}));
  EXPECT_TRUE(Apply("{\"token\":\"s3cr\xC3\xA9t\",\"ip\":\"203.0.113.7\",\"port\":7777}", ""));
  EXPECT_EQ(Of("token"), (Lines{"config.json \"token\": used: gave a value of 6 characters"}));
  for (const SourceNote& note : notes_) {
    EXPECT_EQ(note.Detail.find("s3cr"), std::string::npos) << note.Detail;
  }
  EXPECT_EQ(Of("ip"), (Lines{"config.json \"ip\": used: gave \"203.0.113.7\""}));
}

TEST_F(ConfigNotesTest, AnEmptyOrMisspeltTokenIsTold) {
  EXPECT_FALSE(Apply(R"({"token":"","ip":"203.0.113.7","port":7777})", ""));
  EXPECT_EQ(Of("token"),
            (Lines{"config.json \"token\": passed over: empty, or no quoted text after the key"}));
  EXPECT_FALSE(Apply(R"({"Token":"abc","ip":"203.0.113.7","port":7777})", ""));
  EXPECT_EQ(Of("token"), (Lines{"config.json \"token\": passed over: no \"token\" key (keys are "
                                "matched with their case)"}));
}

TEST_F(ConfigNotesTest, WithoutAFileEveryFactSaysSoAndTheLaunchPortIsNotRead) {
  EXPECT_FALSE(Apply(std::nullopt, kLaunch));
  EXPECT_EQ(Of("token"), (Lines{"config.json \"token\": passed over: no config.json"}));
  EXPECT_EQ(Of("ip"), (Lines{"config.json \"ip\": passed over: no config.json"}));
  EXPECT_EQ(Of("port"), (Lines{"config.json \"port\": passed over: no config.json",
                               "launch arguments: passed over: not read: without config.json "
                               "nothing is"}));
}

}  // namespace
}  // namespace vesperline
