/*
 * engines_check_test.cpp - the check command's one transaction on every
 * engine: selects that fail for single rows must not spoil the transaction
 * (PostgreSQL aborts a transaction at its first error unless the driver
 * guards each statement), so the repairs of the later stages are still
 * committed.
 */
#include <gtest/gtest.h>

#include <string>

#include "check_testdb.h"
#include "harness.h"

using namespace ct;

namespace {

/* A live node row (the shipped schema wants a community text). */
std::string Node(int id, const std::string &address)
{
   return "INSERT INTO nodes (id,primary_ip,community) VALUES (" + std::to_string(id) + ",'" + address +
          "','public');\n";
}

/* A properties row of a live object with the given timestamp. */
std::string Props(int id, const std::string &name, long modified)
{
   return "INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,inherit_access_rights,"
          "last_modified,status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,"
          "status_single_threshold,status_thresholds,comments) VALUES (" +
          std::to_string(id) + ",'" + name + "',0,0,0,1," + std::to_string(modified) +
          ",0,0,0,0,0,0,'00000000','#00');\n";
}

struct EngineCheckTest : ::testing::TestWithParam<vt::Engine>
{
};

TEST_P(EngineCheckTest, FailedRowSelectsLeaveTheTransactionUsable)
{
   vt::TestDb db = MaintDb(GetParam());
   // Two live nodes whose subnet links cannot be read (no nsmap table), and
   // an object with a broken timestamp for stage 5 to repair afterwards.
   vt::Exec(db, Node(10, "10.0.0.10") + Node(11, "10.0.0.11") + Props(10, "n10", 1700000000) +
                   Props(11, "n11", 1700000000) + Props(60, "stale", 0) + "DROP TABLE nsmap;\n");
   vt::RunResult r = vt::Run(db, { "-f", "check" });
   EXPECT_EQ(r.out, std::string(vt::kBanner) + "Checking database:\n" + Stage(kNodes) +
                       "SQL query failed:\nSELECT subnet_id FROM nsmap WHERE node_id=10\n"
                       "SQL query failed:\nSELECT subnet_id FROM nsmap WHERE node_id=11\n[PASSED]\n" +
                       Passed(kInterfaces) + Passed(kServices) + Passed(kClusters) + Stage(kProperties) +
                       "\rObject 60 [stale] has invalid timestamp. Correct? (Y/N) Y\n" + Fixed(kProperties) +
                       Passed(kPolicy) +
                       "1 errors was found, 1 errors was corrected\nAll errors in database was fixed\n"
                       "Commit changes (Y/N) Y\nCommitting changes...\n"
                       "Changes was successfully committed to database\nDatabase check completed\n");
   EXPECT_EQ(r.status, 0);
   EXPECT_NE(vt::QueryValue(db, "SELECT last_modified FROM object_properties WHERE object_id=60"), "0");
}

INSTANTIATE_TEST_SUITE_P(Engines, EngineCheckTest, ::testing::ValuesIn(vt::TestEngines()),
                         [](const ::testing::TestParamInfo<vt::Engine> &info) {
                            return std::string(vt::EngineName(info.param));
                         });

}  // namespace
