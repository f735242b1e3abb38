/*
 * init_test.cpp - the init command end to end: the command file runs, then
 * user 0 and group 0x80000000 get fresh GUIDs; every failure is reported.
 */
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "harness.h"

namespace {

class InitTest : public ::testing::TestWithParam<vt::Engine>
{
};

const std::string kHead = std::string(vt::kBanner) + "Initializing database...\n";
const std::string kFailed = "Database initialization failed\n";

/* A small initial file (no config table: init needs none): both built-in rows with an old GUID. */
const char *const kInitFile =
   "CREATE TABLE users (id integer NOT NULL, name varchar(63), guid varchar(36), PRIMARY KEY(id));\n"
   "INSERT INTO users (id,name,guid) VALUES (0,'admin','old');\n"
   "INSERT INTO users (id,name,guid) VALUES (1,'guest','old');\n"
   "CREATE TABLE user_groups (id integer NOT NULL, name varchar(63), guid varchar(36), PRIMARY KEY(id));\n"
   "INSERT INTO user_groups (id,name,guid) VALUES (-2147483648,'Everyone','old');\n";

const std::regex kGuidForm("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");

/* Each run gives the user and the group two new, different GUIDs. */
TEST_P(InitTest, BuiltinRowsGetFreshGuids)
{
   std::set<std::string> seen;
   for (int run = 0; run < 2; run++)
   {
      vt::TestDb db = vt::NewDb(GetParam());
      std::string file = vt::WriteFile(db.dir + "/init.sql", kInitFile);
      vt::RunResult r = vt::Run(db, { "init", file });
      EXPECT_EQ(r.out, kHead + "Database initialized successfully\n") << r.err;
      EXPECT_EQ(r.status, 0);
      std::string user = vt::QueryValue(db, "SELECT guid FROM users WHERE id=0");
      std::string group = vt::QueryValue(db, "SELECT guid FROM user_groups WHERE id=-2147483648");
      EXPECT_TRUE(std::regex_match(user, kGuidForm)) << user;
      EXPECT_TRUE(std::regex_match(group, kGuidForm)) << group;
      seen.insert(user);
      seen.insert(group);
      EXPECT_EQ(vt::QueryValue(db, "SELECT guid FROM users WHERE id=1"), "old");
   }
   EXPECT_EQ(seen.size(), 4u);
}

/* -t echoes every statement of the file and both updates. */
TEST_P(InitTest, TraceShowsFileAndUpdates)
{
   vt::TestDb db = vt::NewDb(GetParam());
   std::string file = vt::WriteFile(db.dir + "/init.sql",
                                    "CREATE TABLE users (id integer, guid varchar(36));\n"
                                    "CREATE TABLE user_groups (id integer, guid varchar(36))");
   vt::RunResult r = vt::Run(db, { "-t", "init", file });
   std::string shown = std::regex_replace(r.out, kGuidForm, "<guid>");
   EXPECT_EQ(shown, kHead + ">>> CREATE TABLE users (id integer, guid varchar(36))\n"
                            ">>> CREATE TABLE user_groups (id integer, guid varchar(36))\n"
                            ">>> UPDATE users SET guid='<guid>' WHERE id=0\n"
                            ">>> UPDATE user_groups SET guid='<guid>' WHERE id=-2147483648\n"
                            "Database initialized successfully\n");
   EXPECT_EQ(r.status, 0);
}

/* Files that fail: nothing after the failure runs, and no GUID is set. */
TEST_P(InitTest, FailuresAreReported)
{
   vt::TestDb db = vt::NewDb(GetParam());
   const std::string empty = vt::WriteFile(db.dir + "/empty.sql", "\r\n\n");
   const std::string missing = db.dir + "/missing.sql";
   struct
   {
      std::string file;
      std::string out;
   } cases[] = {
      { empty, kHead + kFailed },
      { missing, kHead + "ERROR: Cannot load SQL command file " + missing + "\n" + kFailed },
   };
   for (const auto &c : cases)
   {
      SCOPED_TRACE(c.file);
      vt::RunResult r = vt::Run(db, { "init", c.file });
      EXPECT_EQ(r.out, c.out);
      EXPECT_EQ(r.status, 0);
   }
}

TEST_P(InitTest, FailingStatementStopsBeforeGuids)
{
   vt::TestDb db = vt::NewDb(GetParam());
   std::string file = vt::WriteFile(db.dir + "/init.sql",
                                    "CREATE TABLE users (id integer, guid varchar(36));\n"
                                    "INSERT INTO users (id,guid) VALUES (0,'old');\n"
                                    "INSERT INTO nowhere VALUES (1);\n"
                                    "CREATE TABLE user_groups (id integer, guid varchar(36));\n");
   vt::RunResult r = vt::Run(db, { "init", file });
   const std::string tail = "):\nINSERT INTO nowhere VALUES (1)\n" + kFailed;
   ASSERT_GT(r.out.size(), tail.size());
   EXPECT_EQ(r.out.substr(0, kHead.size()), kHead);
   EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
   if (GetParam() == vt::Engine::SQLite)
   {
      EXPECT_EQ(r.out, kHead + "SQL query failed (no such table: nowhere" + tail);
   }
   EXPECT_EQ(r.status, 0);
   // The statements before the failure stay; the GUID is not touched.
   EXPECT_EQ(vt::QueryValue(db, "SELECT guid FROM users WHERE id=0"), "old");
   std::string error;
   EXPECT_FALSE(vt::TryExec(db, "SELECT id FROM user_groups", &error));
}

/* The GUID updates: a missing table fails (the first update stays); missing rows are no failure. */
TEST_P(InitTest, GuidUpdates)
{
   struct
   {
      const char *name;
      std::string file;
      std::string out;
   } cases[] = {
      { "NoBuiltinRows",
        "CREATE TABLE users (id integer, guid varchar(36));\nCREATE TABLE user_groups (id integer, guid varchar(36));\n",
        kHead + "Database initialized successfully\n" },
      { "NoGroupTable", "CREATE TABLE users (id integer, guid varchar(36));\nINSERT INTO users VALUES (0,'old');\n",
        "" },
   };
   for (const auto &c : cases)
   {
      SCOPED_TRACE(c.name);
      vt::TestDb db = vt::NewDb(GetParam());
      vt::RunResult r = vt::Run(db, { "init", vt::WriteFile(db.dir + "/init.sql", c.file) });
      EXPECT_EQ(r.status, 0);
      if (!c.out.empty())
      {
         EXPECT_EQ(r.out, c.out);
         continue;
      }
      std::string shown = std::regex_replace(r.out, kGuidForm, "<guid>");
      const std::string tail = "):\nUPDATE user_groups SET guid='<guid>' WHERE id=-2147483648\n" + kFailed;
      ASSERT_GT(shown.size(), tail.size());
      EXPECT_EQ(shown.substr(shown.size() - tail.size()), tail);
      EXPECT_EQ(shown.substr(0, kHead.size() + 18), kHead + "SQL query failed (");
      EXPECT_TRUE(std::regex_match(vt::QueryValue(db, "SELECT guid FROM users WHERE id=0"), kGuidForm));
   }
}

INSTANTIATE_TEST_SUITE_P(Engines, InitTest, ::testing::ValuesIn(vt::TestEngines()),
                         [](const auto &info) { return std::string(vt::EngineName(info.param)); });

}  // namespace
