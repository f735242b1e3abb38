// The check command when its transaction cannot be opened: no stage may run,
// since every repair would then stand at once.  A real SQLite connection that
// already holds a transaction makes the driver's BEGIN fail.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include "harness.h"
#include "vldbmgr.h"

namespace {

TEST(CheckTransaction, FailedBeginAbortsBeforeTheFirstStage)
{
   vt::TestDb db = vt::InitDb();
   vt::Exec(db, "INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,inherit_access_rights,"
                "last_modified,comments) VALUES (60,'stale',0,0,0,1,0,'#00')");

   setenv("VLDBMGR_DRIVER_DIR", vt::ToolPath().substr(0, vt::ToolPath().rfind('/')).c_str(), 1);
   strcpy(g_szDbDriver, "sqlite");
   strcpy(g_szDbName, db.name.c_str());
   ASSERT_NE(DBInit(0, 0, 0, nullptr), 0);
   g_hDatabase = DBConnect();
   ASSERT_NE(g_hDatabase, nullptr);
   g_nDbSyntax = DIALECT_SQLITE;
   g_bTraceQueries = 0;
   g_bForceRepair = 1;

   ASSERT_NE(DBQuery(g_hDatabase, "BEGIN"), 0);
   fflush(stdout);
   testing::internal::CaptureStdout();
   RunCheckCommand();
   fflush(stdout);
   std::string out = testing::internal::GetCapturedStdout();
   DBQuery(g_hDatabase, "ROLLBACK");
   DBDisconnect(g_hDatabase);
   g_hDatabase = nullptr;
   DBUnloadDriver();
   g_bForceRepair = 0;

   EXPECT_EQ(out, "Checking database:\n"
                  "ERROR: Cannot begin a transaction, and the check makes no repair outside one\n"
                  "Database check aborted\n");
   EXPECT_EQ(g_nErrorsFound, 0);
   EXPECT_EQ(vt::QueryValue(db, "SELECT last_modified FROM object_properties WHERE object_id=60"), "0");
}

}  // namespace
