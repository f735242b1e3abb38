/*
 * hardening_secrets_test.cpp - the password never appears in anything the
 * tool prints: not when the connection fails (wrong password, no server
 * listening), not in a trace, not when the configuration file is refused.
 * On every engine; for SQLite, which takes no password, the failures are
 * those of the file.
 */
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "harness.h"

namespace {

/* Distinctive, and with the characters a careless quoting would mangle. */
const std::string kSecret = "Pw-9f3Kq'\"%s;#27x";

/* The database's configuration with the password (and optionally the
   server port) replaced. */
std::string ConfigWith(const vt::TestDb &db, const std::string &password, bool bDeadPort)
{
   std::string text = vt::ReadFile(db.config);
   text = std::regex_replace(text, std::regex("(^|\n)DBPassword[^\n]*"), "$1");
   text += "DBPassword = \"" + password + "\"\n";
   if (bDeadPort)
      text = std::regex_replace(text, std::regex("(port=)[0-9]+", std::regex::icase), "$011");
   return vt::WriteFile(db.dir + "/secret.conf", text);
}

void ExpectNoSecret(const vt::RunResult &r, const std::string &what)
{
   EXPECT_EQ(r.out.find(kSecret), std::string::npos) << what << ":\n" << r.out;
   EXPECT_EQ(r.err.find(kSecret), std::string::npos) << what << ":\n" << r.err;
   // Nor a recognisable piece of it.
   EXPECT_EQ(r.out.find("9f3Kq"), std::string::npos) << what;
   EXPECT_EQ(r.err.find("9f3Kq"), std::string::npos) << what;
}

struct Secrets : ::testing::TestWithParam<vt::Engine>
{
};

TEST_P(Secrets, ConnectionFailures)
{
   vt::TestDb db = vt::InitDb(GetParam());
   struct
   {
      const char *what;
      bool bDeadPort;
   } cases[] = {
      { "wrong password", false },
      { "no server on the port", true },
   };
   for (const auto &c : cases)
   {
      std::string config = ConfigWith(db, kSecret, c.bDeadPort);
      if (GetParam() == vt::Engine::SQLite)
      {
         // The file's folder does not exist: the connection fails too.
         std::string text = std::regex_replace(vt::ReadFile(config), std::regex("DBName = [^\n]*"),
                                               "DBName = " + db.dir + "/missing/velmor.db");
         vt::WriteFile(config, text);
      }
      vt::RunResult r = vt::RunTool({ "-t", "-c", config, "check" });
      EXPECT_EQ(r.status, 4) << c.what << "\n" << r.out << r.err;
      ExpectNoSecret(r, c.what);
      EXPECT_NE(r.err, "") << c.what;   // the engine's reason
      if (GetParam() == vt::Engine::SQLite)
         break;   // (no server, no port)
   }
}

/* A working connection traced from start to end: the password is in no
   statement and no message. */
TEST_P(Secrets, TracedCommands)
{
   vt::TestDb db = vt::InitDb(GetParam());
   // SQLite takes any password: give it the marked one.  A server needs its
   // own, which is then the text that must not show.
   std::string config = db.config;
   std::string password = kSecret;
   if (GetParam() == vt::Engine::SQLite)
   {
      config = ConfigWith(db, kSecret, false);
   }
   else
   {
      std::smatch m;
      std::string text = vt::ReadFile(db.config);
      ASSERT_TRUE(std::regex_search(text, m, std::regex("DBPassword = ([^\n]+)")));
      password = m[1];
      if (password.size() > 2 && password.front() == '"' && password.back() == '"')
         password = password.substr(1, password.size() - 2);
   }
   for (const char *command : { "check", "reindex", "unlock", "upgrade" })
   {
      vt::RunResult r = vt::RunTool({ "-c", config, "-t", "-f", command });
      EXPECT_EQ(r.status, 0) << command;
      if (std::string(command) == "check" || std::string(command) == "reindex")
      {
         EXPECT_NE(r.out.find(">>> "), std::string::npos) << command << ": nothing traced";
      }
      EXPECT_EQ(r.out.find(password), std::string::npos) << command;
      EXPECT_EQ(r.err.find(password), std::string::npos) << command;
   }
}

INSTANTIATE_TEST_SUITE_P(Engines, Secrets, testing::ValuesIn(vt::TestEngines()), vt::EngineParamName());

/* A configuration file refused because of its password line names the
   file, the line and the key, never the value. */
TEST(SecretsInConfiguration, RefusedPasswordLine)
{
   vt::TestDb db = vt::NewDb();
   struct
   {
      const char *what;
      std::string line;
      std::string message;
   } cases[] = {
      { "too long", "DBPassword = " + kSecret + std::string(60, 'x'),
        ":2: value of \"DBPassword\" is too long (77 characters, at most 63)\n" },
      { "no equals sign", "DBPassword " + kSecret, ":2: line is not \"Key = Value\"\n" },
      { "mistyped key", "DBPasword = " + kSecret, ":2: unknown key \"DBPasword\"\n" },
   };
   for (const auto &c : cases)
   {
      std::string config = vt::WriteFile(db.dir + "/bad.conf", "DBName = " + db.name + "\n" + c.line + "\n");
      vt::RunResult r = vt::RunTool({ "-c", config, "check" });
      EXPECT_EQ(r.out, std::string(vt::kBanner) + "Error loading configuration file\n") << c.what;
      EXPECT_EQ(r.err, config + c.message) << c.what;
      EXPECT_EQ(r.status, 2) << c.what;
      ExpectNoSecret(r, c.what);
   }
}

}  // namespace
