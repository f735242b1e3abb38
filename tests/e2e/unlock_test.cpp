// The unlock command, and the console behaviour it shows: the question and
// its keys on a terminal, -f, no terminal at all, the trace and colours.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using vt::kBanner;

const std::string kConfigTable =
   "CREATE TABLE config (var_name varchar(63) not null primary key, var_value varchar(2000),"
   " is_visible integer, need_server_restart integer);\n"
   "INSERT INTO config VALUES ('DBSyntax','SQLITE',0,0);\n";

const std::string kUnlock = "UPDATE config SET var_value='UNLOCKED' where var_name='DBLockStatus'";

vt::TestDb LockedDb(const std::string &holder, const std::string *info)
{
   vt::TestDb db = vt::NewDb();
   vt::Exec(db, kConfigTable);
   vt::SetConfigValue(db, "DBLockStatus", holder);
   if (info != nullptr)
      vt::SetConfigValue(db, "DBLockInfo", *info);
   return db;
}

std::string Prompt(const std::string &holder, const std::string &info)
{
   return "Database is locked by server " + holder + " [" + info +
          "]\nDo you wish to force database unlock? (Y/N) ";
}

TEST(Unlock, NotLocked)
{
   const std::string info = "old holder";
   for (const char *status : { "UNLOCKED", "#55NLOCKED" })
   {
      vt::TestDb db = LockedDb(status, &info);
      vt::RunResult r = vt::Run(db, { "-t", "unlock" });
      EXPECT_EQ(r.out, std::string(kBanner) + "Database is not locked\n") << status;
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(vt::ConfigValue(db, "DBLockStatus"), status);
   }
   // No lock row at all.
   vt::TestDb db = vt::NewDb();
   vt::Exec(db, kConfigTable);
   vt::RunResult r = vt::Run(db, { "-f", "unlock" });
   EXPECT_EQ(r.out, std::string(kBanner) + "Database is not locked\n");
}

TEST(Unlock, LockedValuesAndHowTheyAreShown)
{
   const std::string info = "server started#2C pid 42";
   struct
   {
      std::string stored;
      const std::string *info;
      std::string prompt;
   } cases[] = {
      { "unlocked", &info, Prompt("unlocked", "server started, pid 42") },
      { "UNLOCKED ", &info, Prompt("UNLOCKED ", "server started, pid 42") },
      { "#00", &info, Prompt("", "server started, pid 42") },
      { "srv#27a#27", nullptr, Prompt("srv'a'", "") },
      { "evil#1B[2J#0A", &info, Prompt("evil^[[2J^J", "server started, pid 42") },
   };
   for (const auto &c : cases)
   {
      vt::TestDb db = LockedDb(c.stored, c.info);
      vt::RunResult r = vt::Run(db, { "-t", "-f", "unlock" });
      EXPECT_EQ(r.out, kBanner + c.prompt + "Y\n>>> " + kUnlock + "\nDatabase lock removed\n") << c.stored;
      EXPECT_EQ(vt::ConfigValue(db, "DBLockStatus"), "UNLOCKED");
      if (c.info != nullptr)
      {
         EXPECT_EQ(vt::ConfigValue(db, "DBLockInfo"), *c.info);
      }
      r = vt::Run(db, { "unlock" });
      EXPECT_EQ(r.out, std::string(kBanner) + "Database is not locked\n");
   }
}

TEST(Unlock, AnswersOnATerminal)
{
   const std::string info = "monitor";
   struct
   {
      const char *title;
      std::string keys;
      std::string answer;
      bool unlocked;
   } cases[] = {
      { "y", "y", "Y\nDatabase lock removed\n", true },
      { "Y after ignored keys", "q1\r\x1bY", "Y\nDatabase lock removed\n", true },
      { "N", "N", "N\n", false },
      { "n after ignored keys", " xn", "N\n", false },
      { "nobody answers", "", "N\n", false },
   };
   for (const auto &c : cases)
   {
      vt::TestDb db = LockedDb("srv1", &info);
      vt::RunOptions opt;
      opt.bPty = true;
      opt.keys = c.keys;
      vt::RunResult r = vt::Run(db, { "unlock" }, opt);
      EXPECT_EQ(r.out, kBanner + Prompt("srv1", "monitor") + c.answer) << c.title;
      EXPECT_EQ(r.status, 0) << c.title;
      EXPECT_EQ(vt::ConfigValue(db, "DBLockStatus"), c.unlocked ? "UNLOCKED" : "srv1") << c.title;
   }
}

TEST(Unlock, WithoutATerminalTheAnswerIsNo)
{
   const std::string info = "x";
   vt::TestDb db = LockedDb("srv1", &info);
   vt::RunResult r = vt::Run(db, { "unlock" });
   EXPECT_EQ(r.out, kBanner + Prompt("srv1", "x") + "N\n");
   EXPECT_EQ(vt::ConfigValue(db, "DBLockStatus"), "srv1");
}

TEST(Unlock, ColoursOnATerminalOnly)
{
   const std::string info = "x";
   vt::TestDb db = LockedDb("srv1", &info);
   vt::RunOptions opt;
   opt.bPty = true;
   vt::RunResult r = vt::Run(db, { "-t", "-f", "unlock" }, opt);
   EXPECT_EQ(vt::ShowColors(r.out),
             kBanner + Prompt("srv1", "x") + "Y\n<15>>>> <10>" + kUnlock + "\n<7>Database lock removed\n");

   // NO_COLOR on a terminal, and a pipe: plain text.
   vt::SetConfigValue(db, "DBLockStatus", "srv1");
   opt.env = { "NO_COLOR=1" };
   r = vt::Run(db, { "-t", "-f", "unlock" }, opt);
   EXPECT_EQ(r.out, kBanner + Prompt("srv1", "x") + "Y\n>>> " + kUnlock + "\nDatabase lock removed\n");
   vt::SetConfigValue(db, "DBLockStatus", "srv1");
   r = vt::Run(db, { "-t", "-f", "unlock" });
   EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
}

TEST(Unlock, FailedStatementIsShownInYellow)
{
   const std::string info = "x";
   vt::TestDb db = LockedDb("srv1", &info);
   // A trigger that refuses the update stands in for a read-only database.
   vt::Exec(db, "CREATE TRIGGER no_unlock BEFORE UPDATE ON config BEGIN SELECT RAISE(ABORT, 'config is frozen'); END;");
   vt::RunOptions opt;
   opt.bPty = true;
   vt::RunResult r = vt::Run(db, { "-f", "unlock" }, opt);
   EXPECT_EQ(vt::ShowColors(r.out), kBanner + Prompt("srv1", "x") + "Y\nSQL query failed (config is frozen):\n<14>" +
                                       kUnlock + "\n<7>");
   EXPECT_EQ(r.status, 0);
   EXPECT_EQ(vt::ConfigValue(db, "DBLockStatus"), "srv1");
}

}  // namespace
