/*
 * engines_upgrade_test.cpp - what the server engines do differently inside
 * an upgrade: on PostgreSQL (directly and through ODBC) a failed statement
 * under -X leaves the step's transaction usable, so the statements after it
 * are applied and committed; on MariaDB the options -I and -M give the new
 * tables their storage engine.  Each runs where its engine is reachable.
 */
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

std::vector<vt::Engine> Reachable(std::vector<vt::Engine> wanted)
{
   std::vector<vt::Engine> out;
   for (vt::Engine e : vt::TestEngines())
      for (vt::Engine w : wanted)
         if (e == w)
            out.push_back(e);
   return out;
}

std::string ParamName(const ::testing::TestParamInfo<vt::Engine> &info)
{
   return vt::EngineName(info.param);
}

/* A database that holds only the config table, at the given version. */
vt::TestDb ConfigOnlyDb(vt::Engine e, int version)
{
   vt::TestDb db = vt::NewDb(e);
   vt::Exec(db, "CREATE TABLE config (var_name varchar(63) not null,var_value varchar(255),"
                "is_visible integer not null default 1,need_server_restart integer not null default 0,"
                "PRIMARY KEY(var_name));\n"
                "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('DBFormatVersion','" +
                   std::to_string(version) +
                   "',0,1);\n"
                   "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('DBSyntax','" +
                   vt::EngineSyntax(e) +
                   "',0,1);\n"
                   "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES "
                   "('DBLockStatus','UNLOCKED',0,1);\n");
   return db;
}

/* The output without the failure displays ("SQL query failed..." and the
   statement line after it), whose texts are the engine's. */
std::string WithoutFailures(const std::string &out)
{
   std::stringstream ss(out);
   std::string line, rest;
   while (std::getline(ss, line))
   {
      if (line.rfind("SQL query failed", 0) == 0)
      {
         std::getline(ss, line);
         continue;
      }
      rest += line + "\n";
   }
   return rest;
}

struct PgIgnoreErrorsTest : ::testing::TestWithParam<vt::Engine>
{
};

// From version 54 on a database that lacks every table but config, nearly
// every step has statements that fail.  Under -X each failure is shown and
// the step goes on; the statements after the failures must still apply and
// be committed with the step, up to version 83.
TEST_P(PgIgnoreErrorsTest, StatementsAfterAFailureAreAppliedAndCommitted)
{
   vt::TestDb db = ConfigOnlyDb(GetParam(), 54);
   vt::RunResult r = vt::Run(db, { "-X", "upgrade" });
   std::string walk;
   for (int v = 54; v < 83; v++)
      walk += "Upgrading from version " + std::to_string(v) + " to " + std::to_string(v + 1) + "\n";
   // Failed statements were shown (step 54 to 55 starts with four of them).
   EXPECT_NE(r.out.find("Upgrading from version 54 to 55\nSQL query failed ("), std::string::npos) << r.out;
   EXPECT_EQ(WithoutFailures(r.out), std::string(vt::kBanner) + "Upgrading database...\n" + walk +
                                        "Database upgrade succeeded\n");
   EXPECT_EQ(r.status, 0);
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "83");
   // Created by step 54 to 55 after its failed statements.
   EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM clusters"), "0");
   EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM cluster_sync_subnets"), "0");
   EXPECT_FALSE(vt::ConfigValue(db, "WindowsConsoleUpgradeURL").empty());
}

// Without -X the first failure rolls the step back: nothing of it stays.
TEST_P(PgIgnoreErrorsTest, WithoutTheOptionTheFailedStepIsRolledBack)
{
   vt::TestDb db = ConfigOnlyDb(GetParam(), 54);
   vt::RunResult r = vt::Run(db, { "upgrade" });
   EXPECT_EQ(WithoutFailures(r.out), std::string(vt::kBanner) +
                                        "Upgrading database...\nUpgrading from version 54 to 55\n"
                                        "Rolling back last stage due to upgrade errors...\nDatabase upgrade failed\n");
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "54");
   std::string error;
   EXPECT_FALSE(vt::TryExec(db, "SELECT count(*) FROM clusters", &error));
}

INSTANTIATE_TEST_SUITE_P(Engines, PgIgnoreErrorsTest,
                         ::testing::ValuesIn(Reachable({ vt::Engine::PgSQL, vt::Engine::ODBC })), ParamName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PgIgnoreErrorsTest);

struct MariaDbTableTypeTest : ::testing::TestWithParam<vt::Engine>
{
};

// Step 53 to 54 creates address_lists with CreateTableSql; with -I or -M it
// gets that storage engine, without either the server's default (InnoDB).
// The walk then fails at step 54 to 55 for want of tables, which does not
// matter here.
TEST_P(MariaDbTableTypeTest, OptionsChooseTheStorageEngine)
{
   struct
   {
      std::vector<std::string> options;
      const char *engine;
   } cases[] = {
      { { "-M" }, "MyISAM" },
      { { "-I" }, "InnoDB" },
      { { "-I", "-M" }, "MyISAM" },
      { {}, "InnoDB" },
   };
   for (const auto &c : cases)
   {
      vt::TestDb db = ConfigOnlyDb(vt::Engine::MySQL, 53);
      std::vector<std::string> args = c.options;
      args.push_back("-t");
      args.push_back("upgrade");
      vt::RunResult r = vt::Run(db, args);
      std::string suffix = c.options.empty() ? "" : std::string(" ENGINE=") + c.engine;
      EXPECT_EQ(r.out.substr(0, r.out.find("\n>>> CREATE INDEX")),
                std::string(vt::kBanner) +
                   "Upgrading database...\nUpgrading from version 53 to 54\n>>> CREATE TABLE address_lists "
                   "(list_type integer not null,addr_type integer not null,addr1 varchar(15) not null,"
                   "addr2 varchar(15) not null)" +
                   suffix)
         << c.engine;
      EXPECT_EQ(vt::QueryValue(db, "SELECT engine FROM information_schema.tables WHERE table_schema='" + db.name +
                                      "' AND table_name='address_lists'"),
                c.engine);
      EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "54");
   }
}

INSTANTIATE_TEST_SUITE_P(Engines, MariaDbTableTypeTest, ::testing::ValuesIn(Reachable({ vt::Engine::MySQL })),
                         ParamName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(MariaDbTableTypeTest);

}  // namespace
