// The checker's masking as a property: for launch lines holding a server password in every form an
// admin writes one, no character of the password shows in the text report, the JSON report or the
// heartbeat shown, and the report is the one the same line gives with a harmless option in the
// password's place, but for that option's text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "tools/check/mask/Mask.h"
#include "tools/check/model/Check.h"
#include "tools/check/report/Report.h"
#include "tools/check/text/Printable.h"

namespace vesperline {
namespace {

// The password's forms, each with a {KEY} where the key goes and a {VALUE} where its value goes.
// The key is ServerAdminPassword, or ServerAdminPasscode for the harmless line.
constexpr const char* kForms[] = {
    // A manager's first argument quoted whole.
    "\"TheIsland_WP?listen?SessionName=Rex?{KEY}={VALUE}?Port=7777\" -NoBattlEye",
    // The same unquoted: a value with blanks comes apart.
    "TheIsland_WP?listen?SessionName=Rex?{KEY}={VALUE}?Port=7777 -NoBattlEye",
    // Wine's \" from a container's start script.
    "TheIsland_WP?listen?SessionName=Rex?{KEY}=\\\"{VALUE}\\\"?Port=7777 -NoBattlEye",
    // Options set apart by blanks.
    "TheIsland_WP?listen?SessionName=Rex?{KEY}={VALUE} ?RCONEnabled=True ?RCONPort=27020",
    // Dash options, quoted in three ways, and with a blank instead of '='.
    "TheIsland_WP?listen?Port=7777 -{KEY}={VALUE} -NoBattlEye",
    "TheIsland_WP?listen?Port=7777 -{KEY}=\"{VALUE}\" -NoBattlEye",
    "TheIsland_WP?listen?Port=7777 \"-{KEY}={VALUE}\" -NoBattlEye",
    "TheIsland_WP?listen?Port=7777 -{KEY} {VALUE} -NoBattlEye",
    // A name with non-ASCII letters before it.
    "\"TheIsland_WP?listen?SessionName=\xE6\x81\x90\xE7\xAB\x9C \xC3\x84rger?{KEY}={VALUE}\"",
};

constexpr const char* kValues[] = {"hunter2", "Adm1n S3cret", "tw0 w0rds h3re",
                                   "\xC3\x84rger\xF0\x9F\xA6\x96 Zw\xC3\xB6lf"};

std::string Filled(std::string form, std::string_view key, std::string_view value) {
  for (const auto& [slot, text] :
       {std::pair{std::string("{KEY}"), key}, std::pair{std::string("{VALUE}"), value}}) {
    for (std::size_t at; (at = form.find(slot)) != std::string::npos;) {
      form.replace(at, slot.size(), text);
    }
  }
  return form;
}

// Values the server takes whole, though they hold what ends a value elsewhere, in the forms that
// have it so: a blank and a dash in a '?' option of a map URL quoted whole, or in a dash option's
// quotes; a '?' in a dash option.
constexpr struct {
  const char* form;
  const char* value;
} kTakenWhole[] = {
    {kForms[0], "Hunt3r -Tw0"}, {kForms[8], "Hunt3r -Tw0"}, {kForms[5], "Hunt3r -Tw0"},
    {kForms[6], "Hunt3r -Tw0"}, {kForms[4], "Pa55?w0rd"},   {kForms[5], "Pa55?w0rd"},
    {kForms[6], "Pa55?w0rd"},
};

// The words of the value, longest first: a report quotes a value whole, or the pieces of it that
// a blank, a dash or a '?' set apart.
std::vector<std::string> Pieces(const std::string& value) {
  std::vector<std::string> pieces{value};
  for (std::size_t start = 0; start <= value.size();) {
    const std::size_t end = std::min(value.find_first_of(" -?", start), value.size());
    if (end > start && end - start < value.size())
      pieces.push_back(value.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

// The harmless report with its option written as the password's is shown: the key renamed, and
// the value, whole or in pieces, shown as the mask.
std::string AsPasswordShows(std::string report, const std::string& value) {
  for (std::size_t at; (at = report.find("ServerAdminPasscode")) != std::string::npos;) {
    report.replace(at, 19, "ServerAdminPassword");
  }
  for (const std::string& piece : Pieces(value)) {
    for (std::size_t at; (at = report.find(piece)) != std::string::npos;) {
      report.replace(at, piece.size(), check::kMaskedPassword);
    }
  }
  // A mask of the value's pieces, set apart by blanks or quotes, shows as one mask.
  const std::string mask(check::kMaskedPassword);
  for (const std::string between : {" ", "\\\" \\\"", "\" \""}) {
    const std::string twice = mask + between + mask;
    for (std::size_t at; (at = report.find(twice)) != std::string::npos;) {
      report.replace(at, twice.size(), mask);
    }
  }
  return report;
}

// The server tree the launch lines are checked in.
void Prepare(const test::ServerTree& server) {
  server.WriteConfig(R"({"token": "SECRETtoken-4711", "ip": "1.2.3.4", "port": 0})");
  test::WriteFile(server.SettingsFile(), "[ServerSettings]\r\nActiveMods=928102\r\n");
  test::WriteFile(server.Log(), "LogInit: ARK Version: 74.24\r\n");
}

// The text and JSON reports of a form filled in.
std::string Report(const test::ServerTree& server, std::string_view form, std::string_view key,
                   std::string_view value) {
  check::CheckInputs inputs;
  inputs.PluginDir = server.PluginDirText();
  inputs.CommandLine = "\"C:\\ARK\\ShooterGame\\Binaries\\Win64\\ArkAscendedServer.exe\" " +
                       Filled(std::string(form), key, value);
  inputs.Origin.Source = check::CommandLineSource::Option;
  const check::CheckReport checked = check::RunCheck(inputs);
  return check::HumanReport(checked, true) + check::JsonReports({checked}, true);
}

TEST(CheckerMaskTest, NoPasswordShowsAndTheReportIsTheHarmlessOnesButForTheOption) {
  const test::ServerTree server;
  Prepare(server);
  for (const char* form : kForms) {
    for (const std::string value : kValues) {
      const std::string secret = Report(server, form, "ServerAdminPassword", value);
      const std::string harmless = Report(server, form, "ServerAdminPasscode", value);
      SCOPED_TRACE(Filled(form, "ServerAdminPassword", value) + "\n" + secret);
      for (const std::string& piece : Pieces(value)) {
        EXPECT_EQ(secret.find(piece), std::string::npos) << piece;
      }
      EXPECT_EQ(secret, AsPasswordShows(harmless, value));
    }
  }
}

// A value the server takes whole is masked whole, and no more: the report is the one a plain
// value gives.
TEST(CheckerMaskTest, AValueTheServerTakesWholeIsMaskedWholeAndNoMore) {
  const test::ServerTree server;
  Prepare(server);
  for (const auto& [form, value] : kTakenWhole) {
    const std::string secret = Report(server, form, "ServerAdminPassword", value);
    SCOPED_TRACE(Filled(form, "ServerAdminPassword", value) + "\n" + secret);
    for (const std::string& piece : Pieces(value)) {
      EXPECT_EQ(secret.find(piece), std::string::npos) << piece;
    }
    EXPECT_EQ(secret, Report(server, form, "ServerAdminPassword", "hunter2"));
  }
}

// What the server or the plugin reads as an option of its own stays shown even where the server
// takes it for a password too: the option after a dash password left empty, and the mod list the
// plugin publishes from inside a first argument quoted whole.
TEST(CheckerMaskTest, AnOptionReadAsSuchStaysShown) {
  const struct {
    const char* line;
    const char* shown;
  } cases[] = {
      {"S.exe M?listen -ServerAdminPassword= -port=7778",
       "S.exe M?listen -ServerAdminPassword= -port=7778"},
      {"S.exe \"M?listen?ServerAdminPassword=Hunt3r -mods=1\"",
       "S.exe \"M?listen?ServerAdminPassword=******** -mods=1\""},
  };
  for (const auto& check : cases) {
    const check::MarkedLine marked = check::MarkLaunchPasswords(check.line);
    EXPECT_EQ(check::Unmarked(marked.Text, marked.Mark), check.shown);
  }
}

// Text that is no launch line, quoted into a message: every KEY=value whose key holds "password",
// shell variables too, and a dash key with a blank instead of '='.
TEST(CheckerMaskTest, KeyValuesOfPasswordsAreMaskedInAnyText) {
  const struct {
    const char* text;
    const char* shown;
  } cases[] = {
      {"ADMIN_PASSWORD=swordfish", "ADMIN_PASSWORD=********"},
      {"export SERVER_PASSWORD=\"sword fish\"", "export SERVER_PASSWORD=\"********\""},
      {"ServerAdminPassword=hunter2", "ServerAdminPassword=********"},
      {"?ServerPassword=a b?Port=1", "?ServerPassword=********?Port=1"},
      {"-ServerAdminPassword Pa55word -log", "-ServerAdminPassword ******** -log"},
      {"PasswordPolicy=strong", "PasswordPolicy=********"},
      {"SessionName=No Password PvE", "SessionName=No Password PvE"},
  };
  for (const auto& check : cases) EXPECT_EQ(check::MaskText(check.text), check.shown) << check.text;
  EXPECT_TRUE(check::EndsInsidePassword("-ServerPassword=Adm1n"));
  EXPECT_TRUE(check::EndsInsidePassword("x -ServerAdminPassword"));
  EXPECT_FALSE(check::EndsInsidePassword("-ServerPassword=\"Adm1n S3cret\""));
}

// The mark is a control byte the line does not hold; a line that holds every one of them is
// shown as a mask alone, and one that lacks only the last is marked with it.
TEST(CheckerMaskTest, ALineHoldingEveryMarkIsMaskedWhole) {
  std::string controls;
  for (char byte = 1; byte < 32; ++byte) {
    if (byte < '\t' || byte > '\r') controls += byte;
  }
  const std::string password = " -ServerAdminPassword=hunter2";
  const check::MarkedLine every = check::MarkLaunchPasswords("M?listen " + controls + password);
  EXPECT_EQ(every.Text, check::kMaskedPassword);
  const std::string allButLast = "M?listen " + controls.substr(0, 25);
  const check::MarkedLine marked = check::MarkLaunchPasswords(allButLast + password);
  ASSERT_EQ(marked.Mark, '\x1f');
  EXPECT_EQ(check::Unmarked(marked.Text, marked.Mark),
            allButLast + " -ServerAdminPassword=********");
}

}  // namespace
}  // namespace vesperline
