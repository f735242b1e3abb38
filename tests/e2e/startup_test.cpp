// Start-up of vldbmgr: banner, options, usage, command check, configuration
// file, driver, connection and syntax detection, with every exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "harness.h"

namespace {

using vt::kBanner;

const std::string kUsage =
   "Usage: vldbmgr [<options>] <command>\n"
   "Valid commands are:\n"
   "   batch <file> : Run SQL batch file\n"
   "   check        : Check database for errors\n"
   "   init <file>  : Initialize database\n"
   "   reindex      : Reindex database\n"
   "   unlock       : Forced database unlock\n"
   "   upgrade      : Upgrade database to new version\n"
   "Valid options are:\n"
   "   -c <config>  : Use alternate configuration file. Default is C:\\velmord.conf\n"
   "   -f           : Force repair - do not ask for confirmation.\n"
   "   -h           : Display help and exit.\n"
   "   -I           : MySQL only - specify TYPE=InnoDB for new tables.\n"
   "   -M           : MySQL only - specify TYPE=MyISAM for new tables.\n"
   "   -t           : Enable trace moded (show executed SQL queries).\n"
   "   -v           : Display version and exit.\n"
   "   -X           : Ignore SQL errors when upgrading (USE WITH CARE!!!)\n"
   "\n";

const std::string kConfigTable =
   "CREATE TABLE config (var_name varchar(63) not null primary key, var_value varchar(2000),"
   " is_visible integer, need_server_restart integer);\n";

bool Exists(const std::string &path)
{
   struct stat st;
   return stat(path.c_str(), &st) == 0;
}

// A database with a config table and the given DBSyntax value.
vt::TestDb SyntaxDb(const std::string &syntax)
{
   vt::TestDb db = vt::NewDb();
   vt::Exec(db, kConfigTable);
   vt::SetConfigValue(db, "DBSyntax", syntax);
   return db;
}

struct CommandLineCase
{
   const char *title;
   std::vector<std::string> args;
   std::string out;   // after the banner
   int status;
};

// Runs that stop before the configuration is read: the -c file does not exist.
TEST(StartUp, CommandLineErrorsStopBeforeTheConfiguration)
{
   const std::string missing = "/nonexistent/velmord.conf";
   const CommandLineCase cases[] = {
      { "no arguments", {}, "Command missing. Type vldbmgr -h for command line syntax.\n", 1 },
      { "options only", { "-f", "-t" }, "Command missing. Type vldbmgr -h for command line syntax.\n", 1 },
      { "-h", { "-h" }, kUsage, 1 },
      { "-h check", { "-c", missing, "-h", "check" }, kUsage, 1 },
      { "-h -h", { "-h", "-h" }, kUsage + kUsage, 1 },
      { "-v", { "-v", "check" }, "", 1 },
      { "invalid option", { "-q", "check" }, "", 1 },
      { "-c without its path", { "check", "-c" }, "", 1 },
      { "command in capitals", { "-c", missing, "CHECK" },
        "Invalid command \"CHECK\". Type vldbmgr -h for command line syntax.\n", 1 },
      { "unknown command", { "-c", missing, "repair" },
        "Invalid command \"repair\". Type vldbmgr -h for command line syntax.\n", 1 },
      { "batch without its file", { "-c", missing, "batch" }, "Required command argument missing\n", 1 },
      { "init without its file", { "-c", missing, "init" }, "Required command argument missing\n", 1 },
      { "missing configuration", { "-c", missing, "check" }, "Error loading configuration file\n", 2 },
   };
   for (const auto &c : cases)
   {
      vt::RunResult r = vt::RunTool(c.args);
      EXPECT_EQ(r.out, kBanner + c.out) << c.title;
      EXPECT_EQ(r.status, c.status) << c.title;
   }
}

TEST(StartUp, ScannerReportsBadOptionsOnStandardError)
{
   vt::RunResult r = vt::RunTool({ "-q", "-c" });
   EXPECT_NE(r.err.find("invalid option -- 'q'"), std::string::npos) << r.err;
   EXPECT_NE(r.err.find("option requires an argument -- 'c'"), std::string::npos) << r.err;
}

TEST(StartUp, ConfigurationErrorsNameFileAndLine)
{
   std::string dir = vt::TempDir();
   struct
   {
      const char *title;
      std::string text;
      std::string err;
   } cases[] = {
      { "misspelt key", "DBDriver = sqlite\n\nDBPasword = secret\n", ":3: unknown key \"DBPasword\"\n" },
      { "not key = value", "DBDriver = sqlite\nDBName\n", ":2: line is not \"Key = Value\"\n" },
      { "password too long", "DBPassword = " + std::string(64, 'p') + "\n",
        ":1: value of \"DBPassword\" is too long (64 characters, at most 63)\n" },
   };
   for (const auto &c : cases)
   {
      std::string path = vt::WriteFile(dir + "/bad.conf", c.text);
      vt::RunResult r = vt::RunTool({ "-c", path, "check" });
      EXPECT_EQ(r.out, std::string(kBanner) + "Error loading configuration file\n") << c.title;
      EXPECT_EQ(r.err, path + c.err) << c.title;
      EXPECT_EQ(r.status, 2) << c.title;
   }
   // A folder in place of the file cannot be read either.
   vt::RunResult r = vt::RunTool({ "-c", dir, "check" });
   EXPECT_EQ(r.out, std::string(kBanner) + "Error loading configuration file\n");
   EXPECT_EQ(r.status, 2);
}

TEST(StartUp, ServerKeysAreAcceptedAndIgnored)
{
   vt::TestDb db = SyntaxDb("SQLITE");
   vt::WriteFile(db.config, "# server settings\nLogFile = /var/log/velmord.log\nModule = ping.nsm\n"
                            "DumpDirectory = /tmp\nCreateCrashDumps = yes\nLogFailedSQLQueries = yes\n"
                            "CodePage = \"UTF-8\"\n\n[other]\nAnything = goes\n"
                            "[]\nDBDriver = sqlite\nDBName = " + db.name + "\n");
   vt::RunResult r = vt::Run(db, { "unlock" });
   EXPECT_EQ(r.out, std::string(kBanner) + "Database is not locked\n") << r.err;
   EXPECT_EQ(r.status, 0);
}

TEST(StartUp, LongConfigPathIsCutTo259Characters)
{
   vt::TestDb db = SyntaxDb("SQLITE");
   std::string dir = db.dir + "/";
   std::string path = dir + std::string(259 - dir.size(), 'c');
   ASSERT_EQ(path.size(), 259u);
   vt::WriteFile(path, vt::ReadFile(db.config));
   vt::RunResult r = vt::RunTool({ "-c", path + std::string(41, 'x'), "unlock" });
   EXPECT_EQ(r.out, std::string(kBanner) + "Database is not locked\n") << r.err;
   EXPECT_EQ(r.status, 0);
}

TEST(StartUp, RegistryNamesTheConfigurationFile)
{
   vt::TestDb db = SyntaxDb("SQLITE");
   std::string reg = vt::WriteFile(db.dir + "/registry.conf",
                                   "[HKEY_LOCAL_MACHINE\\Software\\Velmor\\Server]\nConfigFile = " + db.config + "\n");
   vt::RunOptions opt;
   opt.env = { "VELMOR_REGISTRY=" + reg };
   vt::RunResult r = vt::RunTool({ "unlock" }, opt);
   EXPECT_EQ(r.out, std::string(kBanner) + "Database is not locked\n") << r.err;

   // Without the value, the preset path stays (and does not exist here).
   vt::WriteFile(reg, "[HKEY_LOCAL_MACHINE\\Software\\Velmor\\Server]\nOther = 1\n");
   r = vt::RunTool({ "unlock" }, opt);
   EXPECT_EQ(r.out, std::string(kBanner) + "Error loading configuration file\n");
   EXPECT_EQ(r.err, "C:\\velmord.conf: cannot open configuration file: No such file or directory\n");
   EXPECT_EQ(r.status, 2);
}

TEST(StartUp, DriverNames)
{
   vt::TestDb db = SyntaxDb("SQLITE");
   for (std::string driver : { "sqlite", "sqlite.ddr", "/usr/lib/velmor/sqlite.ddr", "SQLite", "" })
   {
      vt::WriteFile(db.config, "DBDriver = " + driver + "\nDBName = " + db.name + "\n");
      vt::RunResult r = vt::Run(db, { "unlock" });
      EXPECT_EQ(r.out, std::string(kBanner) + "Database is not locked\n") << driver << r.err;
   }
   for (std::string driver : { "oracle", "sqlite3", "sq lite" })
   {
      vt::WriteFile(db.config, "DBDriver = " + driver + "\nDBName = " + db.name + "\n");
      vt::RunResult r = vt::Run(db, { "unlock" });
      EXPECT_EQ(r.out, std::string(kBanner) + "Unable to load and initialize database driver \"" + driver + "\"\n");
      EXPECT_NE(r.err.find("known drivers: "), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("sqlite"), std::string::npos) << r.err;
      EXPECT_EQ(r.status, 3) << driver;
   }
}

TEST(StartUp, ConnectionFailureNamesDatabaseServerAndLogin)
{
   std::string dir = vt::TempDir();
   std::string config = vt::WriteFile(dir + "/c.conf", "DBDriver = sqlite\nDBName = " + dir +
                                                           "/no/such/folder/velmor.db\nDBServer = dbhost\n"
                                                           "DBLogin = admin\nDBPassword = s3cret\n");
   vt::RunResult r = vt::RunTool({ "-c", config, "check" });
   EXPECT_EQ(r.out, std::string(kBanner) + "Unable to connect to database " + dir +
                       "/no/such/folder/velmor.db@dbhost as admin\n");
   EXPECT_EQ(r.status, 4);
   EXPECT_EQ(r.err.find("s3cret"), std::string::npos);
}

TEST(StartUp, SyntaxDetection)
{
   struct
   {
      std::string stored;
      std::string out;
      int status;
   } cases[] = {
      { "SQLITE", "Database is not locked\n", 0 },
      { "#53QLITE", "Database is not locked\n", 0 },   // stored encoded
      { "mysql", "Unknown database syntax mysql\n", 6 },
      { "SQLITE ", "Unknown database syntax SQLITE \n", 6 },
      { "ORACLEORACLEORACLEORACLE", "Unknown database syntax ORACLEORACLEORA\n", 6 },
      { "SQL#1B[2J", "Unknown database syntax SQL^[[2J\n", 6 },
   };
   for (const auto &c : cases)
   {
      vt::TestDb db = SyntaxDb(c.stored);
      vt::RunResult r = vt::Run(db, { "unlock" });
      EXPECT_EQ(r.out, kBanner + c.out) << c.stored;
      EXPECT_EQ(r.status, c.status) << c.stored;
   }

   vt::TestDb db = vt::NewDb();
   vt::Exec(db, kConfigTable);
   vt::RunResult r = vt::Run(db, { "check" });
   EXPECT_EQ(r.out, std::string(kBanner) + "Unknown database syntax UNKNOWN\n");
   EXPECT_EQ(r.status, 6);
}

TEST(StartUp, DatabaseWithoutConfigTable)
{
   vt::TestDb db = vt::NewDb();
   vt::Exec(db, "CREATE TABLE nodes (id integer);");
   vt::RunResult r = vt::Run(db, { "-t", "upgrade" });
   EXPECT_EQ(r.out, std::string(kBanner) + "Unable to determine database syntax\n");
   EXPECT_EQ(r.status, 5);
}

TEST(StartUp, MistypedSqlitePathLeavesNoFileBehind)
{
   vt::TestDb db = vt::NewDb();
   for (std::string command : { "check", "unlock", "upgrade", "reindex" })
   {
      vt::RunResult r = vt::Run(db, { command });
      EXPECT_EQ(r.out, std::string(kBanner) + "Unable to determine database syntax\n") << command;
      EXPECT_EQ(r.status, 5);
      EXPECT_FALSE(Exists(db.name)) << command;
   }
   vt::RunResult r = vt::Run(db, { "batch", db.dir + "/missing.sql" });
   EXPECT_EQ(r.status, 5);
   EXPECT_FALSE(Exists(db.name));
}

}  // namespace
