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

struct EngineCheckTest : ::testing::TestWithParam<vt::Engine>
{
};

TEST_P(EngineCheckTest, FailedRowSelectsLeaveTheTransactionUsable)
{
   vt::TestDb db = MaintDb(GetParam());
   // Two live nodes whose subnet links cannot be read (no nsmap table), and
   // an object with a broken timestamp for stage 5 to repair afterwards.
   vt::Exec(db,
            "INSERT INTO nodes (id,primary_ip) VALUES (10,'10.0.0.10');\n"
            "INSERT INTO nodes (id,primary_ip) VALUES (11,'10.0.0.11');\n"
            "INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,inherit_access_rights,"
            "last_modified,status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,"
            "status_single_threshold,status_thresholds) VALUES (10,'n10',0,0,0,1,1700000000,0,0,0,0,0,0,'00000000');\n"
            "INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,inherit_access_rights,"
            "last_modified,status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,"
            "status_single_threshold,status_thresholds) VALUES (11,'n11',0,0,0,1,1700000000,0,0,0,0,0,0,'00000000');\n"
            "INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,inherit_access_rights,"
            "last_modified,status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,"
            "status_single_threshold,status_thresholds) VALUES (60,'stale',0,0,0,1,0,0,0,0,0,0,0,'00000000');\n"
            "DROP TABLE nsmap;\n");
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
