/*
 * engines_connect_test.cpp - connecting to the server engines: every way a
 * connection can fail gives status 4 and the one message naming database,
 * server and login, and the password appears nowhere; the odbc driver
 * reaches a data source by its name as well as by a connection string, and
 * the others a server by its local socket.
 * Runs on each server engine whose environment is set.
 */
#include <gtest/gtest.h>

#include <stdlib.h>

#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

std::vector<vt::Engine> ServerEngines()
{
   std::vector<vt::Engine> out;
   for (vt::Engine e : vt::TestEngines())
      if (e != vt::Engine::SQLite)
         out.push_back(e);
   return out;
}

/* A configuration text as key/value pairs, in file order. */
typedef std::vector<std::pair<std::string, std::string>> Keys;

Keys ParseConfig(const std::string &text)
{
   Keys keys;
   std::stringstream ss(text);
   std::string line;
   while (std::getline(ss, line))
   {
      size_t eq = line.find(" = ");
      if (eq != std::string::npos)
         keys.push_back({ line.substr(0, eq), line.substr(eq + 3) });
   }
   return keys;
}

/* A key's value; an absent key reads as the library's default. */
std::string Get(const Keys &keys, const std::string &key)
{
   for (const auto &kv : keys)
      if (kv.first == key)
         return kv.second;
   return key == "DBServer" ? "localhost" : "";
}

/* The keys with one value replaced (or added). */
Keys With(Keys keys, const std::string &key, const std::string &value)
{
   for (auto &kv : keys)
      if (kv.first == key)
      {
         kv.second = value;
         return keys;
      }
   keys.push_back({ key, value });
   return keys;
}

std::string Text(const Keys &keys)
{
   std::string out;
   for (const auto &kv : keys)
      out += kv.first + " = " + kv.second + "\n";
   return out;
}

/* The driver parameters with the server's port replaced by one nobody
   listens on. */
std::string ClosedPort(vt::Engine e, const std::string &params)
{
   if (e != vt::Engine::ODBC)
      return "port=1";
   size_t at = params.find(";Port=");
   size_t end = params.find(';', at + 1);
   return params.substr(0, at) + ";Port=1" + (end == std::string::npos ? "" : params.substr(end));
}

struct EngineConnectTest : ::testing::TestWithParam<vt::Engine>
{
};

TEST_P(EngineConnectTest, FailuresGiveStatus4AndNeverThePassword)
{
   vt::Engine e = GetParam();
   vt::TestDb db = vt::NewDb(e);
   Keys good = ParseConfig(vt::ReadFile(db.config));
   std::string realPassword = Get(good, "DBPassword");
   ASSERT_FALSE(realPassword.empty());
   const std::string wrong = "Wr0ng-S3cret-Pa55";

   struct
   {
      const char *what;
      Keys keys;
   } cases[] = {
      { "wrong password", With(good, "DBPassword", wrong) },
      { "closed port", With(good, "DBDrvParams", ClosedPort(e, Get(good, "DBDrvParams"))) },
      { "unknown database", With(good, "DBName", "vlt_no_such_database") },
      { "unknown login", With(With(good, "DBLogin", "vlt_nobody"), "DBPassword", wrong) },
   };
   for (const auto &c : cases)
   {
      std::string config = vt::WriteFile(db.dir + "/bad.conf", Text(c.keys));
      for (const char *command : { "check", "init" })
      {
         std::vector<std::string> args = { "-c", config, command };
         if (std::string(command) == "init")
            args.push_back(vt::ShippedSchema(e));
         vt::RunResult r = vt::RunTool(args);
         EXPECT_EQ(r.out, std::string(vt::kBanner) + "Unable to connect to database " + Get(c.keys, "DBName") + "@" +
                             Get(c.keys, "DBServer") + " as " + Get(c.keys, "DBLogin") + "\n")
            << c.what;
         EXPECT_EQ(r.status, 4) << c.what;
         // The engine's reason goes to standard error, for the operator.
         EXPECT_FALSE(r.err.empty()) << c.what;
         for (const std::string &secret : { wrong, realPassword })
         {
            EXPECT_EQ(r.out.find(secret), std::string::npos) << c.what;
            EXPECT_EQ(r.err.find(secret), std::string::npos) << c.what << ": " << r.err;
         }
      }
   }

   // The good settings do connect (so the failures above were the cases'):
   // the empty database then has no syntax to tell.
   vt::RunResult r = vt::Run(db, { "unlock" });
   EXPECT_EQ(r.out, std::string(vt::kBanner) + "Unable to determine database syntax\n") << r.err;
   EXPECT_EQ(r.status, 5);
}

// DBServer may name the server's local socket instead of a host: the
// socket's folder for PostgreSQL, the socket itself for MySQL.
struct EngineSocketTest : ::testing::TestWithParam<vt::Engine>
{
};

TEST_P(EngineSocketTest, ServerGivenAsLocalSocket)
{
   vt::Engine e = GetParam();
   const char *socket = getenv(e == vt::Engine::MySQL ? "VLT_MYSQL_SOCKET" : "VLT_PGSQL_SOCKET_DIR");
   if (socket == nullptr || *socket == 0)
      GTEST_SKIP() << "no local socket given for " << vt::EngineName(e);
   vt::TestDb db = vt::InitDb(e);
   Keys keys = With(ParseConfig(vt::ReadFile(db.config)), "DBServer", socket);
   std::string config = vt::WriteFile(db.dir + "/socket.conf", Text(keys));
   vt::RunResult r = vt::RunTool({ "-c", config, "unlock" });
   EXPECT_EQ(r.out, std::string(vt::kBanner) + "Database is not locked\n") << r.err;
   EXPECT_EQ(r.status, 0);
}

INSTANTIATE_TEST_SUITE_P(Engines, EngineConnectTest, ::testing::ValuesIn(ServerEngines()),
                         [](const ::testing::TestParamInfo<vt::Engine> &info) {
                            return std::string(vt::EngineName(info.param));
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(EngineConnectTest);

std::vector<vt::Engine> SocketEngines()
{
   std::vector<vt::Engine> out;
   for (vt::Engine e : ServerEngines())
      if (e != vt::Engine::ODBC)
         out.push_back(e);
   return out;
}

INSTANTIATE_TEST_SUITE_P(Engines, EngineSocketTest, ::testing::ValuesIn(SocketEngines()),
                         [](const ::testing::TestParamInfo<vt::Engine> &info) {
                            return std::string(vt::EngineName(info.param));
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(EngineSocketTest);

struct OdbcDsnTest : ::testing::TestWithParam<vt::Engine>
{
};

// An operator's usual set-up: a data source in odbc.ini, named in DBServer,
// with login and password in the server's configuration.
TEST_P(OdbcDsnTest, DataSourceByName)
{
   vt::TestDb db = vt::InitDb(vt::Engine::ODBC);
   Keys keys = ParseConfig(vt::ReadFile(db.config));
   // "Driver=...;Server=...;Port=...;Protocol=..." becomes the DSN's body.
   std::string params = Get(keys, "DBDrvParams"), ini = "[vlt_test_dsn]\n";
   std::stringstream ss(params);
   std::string item;
   while (std::getline(ss, item, ';'))
      // In odbc.ini the PostgreSQL driver calls the host "Servername".
      ini += (item.rfind("Server=", 0) == 0 ? "Servername=" + item.substr(7) : item) + "\n";
   ini += "Database = " + db.name + "\n";
   std::string odbcIni = vt::WriteFile(db.dir + "/odbc.ini", ini);
   vt::RunOptions opt;
   opt.env = { "ODBCINI=" + odbcIni };

   Keys dsn = With(With(With(keys, "DBDrvParams", ""), "DBServer", "vlt_test_dsn"), "DBName", "");
   std::string config = vt::WriteFile(db.dir + "/dsn.conf", Text(dsn));
   vt::RunResult r = vt::RunTool({ "-c", config, "unlock" }, opt);
   EXPECT_EQ(r.out, std::string(vt::kBanner) + "Database is not locked\n") << r.err;
   EXPECT_EQ(r.status, 0);

   // A data source that does not exist.
   config = vt::WriteFile(db.dir + "/nodsn.conf", Text(With(dsn, "DBServer", "vlt_no_such_dsn")));
   r = vt::RunTool({ "-c", config, "unlock" }, opt);
   EXPECT_EQ(r.out, std::string(vt::kBanner) + "Unable to connect to database @vlt_no_such_dsn as " +
                       Get(keys, "DBLogin") + "\n");
   EXPECT_EQ(r.status, 4);
   EXPECT_EQ(r.err.find(Get(keys, "DBPassword")), std::string::npos) << r.err;
}

std::vector<vt::Engine> OdbcEngine()
{
   std::vector<vt::Engine> out;
   for (vt::Engine e : vt::TestEngines())
      if (e == vt::Engine::ODBC)
         out.push_back(e);
   return out;
}

INSTANTIATE_TEST_SUITE_P(Engines, OdbcDsnTest, ::testing::ValuesIn(OdbcEngine()),
                         [](const ::testing::TestParamInfo<vt::Engine> &info) {
                            return std::string(vt::EngineName(info.param));
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(OdbcDsnTest);

}  // namespace
