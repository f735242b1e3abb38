/*
 * harness.h - what the end-to-end tests use to run the real vldbmgr binary
 * against real databases and look at what it printed and left behind.
 *
 * Every test gets databases of its own (a fresh SQLite file in a fresh
 * temporary folder, or a fresh database on a test server), and a server
 * configuration file that points the tool at it.
 */
#ifndef VLDBMGR_TEST_HARNESS_H
#define VLDBMGR_TEST_HARNESS_H

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vt {

/* The banner that starts every run's output. */
extern const char *const kBanner;

/* Folder of the source tree (for examples/ and tests/fixtures/). */
std::string SourceDir();

/* Path of the built vldbmgr binary. */
std::string ToolPath();

/* A new empty temporary folder, removed at process exit. */
std::string TempDir();

/* Writes a file (any bytes) and returns its path. */
std::string WriteFile(const std::string &path, const std::string &contents);
std::string ReadFile(const std::string &path);

struct RunOptions
{
   /* Run under a pseudo-terminal: standard output and the controlling
      terminal are the terminal (so colours are on); standard error stays a
      pipe.  Without it the tool has no controlling terminal at all. */
   bool bPty = false;
   /* Keys typed on the terminal, one at a time, each when the tool waits
      for a key (only with bPty).  When they run out and the tool waits for
      three seconds more, the terminal gets end of input (Ctrl-D). */
   std::string keys;
   /* Extra environment entries, "NAME=value". */
   std::vector<std::string> env;
   /* Working folder of the run; empty: a fresh temporary folder, so that
      files the tool writes to its current folder never land in the tree. */
   std::string cwd;
   /* Seconds before the run is killed and the test fails. */
   int timeoutSec = 120;
};

struct RunResult
{
   std::string out;     /* standard output, byte for byte */
   std::string err;     /* standard error */
   int status = -1;     /* exit status; 128+N when killed by signal N */
};

/* Runs vldbmgr with the arguments (without argv[0]). */
RunResult RunTool(const std::vector<std::string> &args, const RunOptions &opt = RunOptions());

enum class Engine
{
   SQLite,
   PgSQL,
   MySQL,
   ODBC
};

const char *EngineName(Engine e);          /* "sqlite", "pgsql", "mysql", "odbc" */

/* Test names and messages show the engine's name:
   INSTANTIATE_TEST_SUITE_P(Engines, MyTest, testing::ValuesIn(vt::TestEngines()), vt::EngineParamName()); */
inline void PrintTo(Engine e, std::ostream *os) { *os << EngineName(e); }
struct EngineParamName
{
   std::string operator()(const testing::TestParamInfo<Engine> &info) const { return EngineName(info.param); }
};
const char *EngineSyntax(Engine e);        /* DBSyntax text: "SQLITE", "PGSQL", "MYSQL"; ODBC: "PGSQL" */

/* The engines the tests can reach here: SQLite always, the servers when
   their environment is set (see scripts/servers.sh). */
std::vector<Engine> TestEngines();

/* A test database and the configuration file that points the tool at it. */
struct TestDb
{
   Engine engine = Engine::SQLite;
   std::string dir;      /* temporary folder of this database */
   std::string name;     /* SQLite file path, or the database name on the server */
   std::string config;   /* server configuration file for the tool */
};

/* A new, empty database (no tables) with its configuration file. */
TestDb NewDb(Engine e = Engine::SQLite);

/* Runs vldbmgr -c <db.config> <args...>. */
RunResult Run(const TestDb &db, const std::vector<std::string> &args, const RunOptions &opt = RunOptions());

/* Runs SQL directly on the engine (statements separated by ";" at line
   ends); the test fails on any error. */
void Exec(const TestDb &db, const std::string &sql);
/* Same, without failing: returns false and the error text. */
bool TryExec(const TestDb &db, const std::string &sql, std::string *error = nullptr);

/* Runs a query directly on the engine; NULL reads as "". */
std::vector<std::vector<std::string>> Query(const TestDb &db, const std::string &query);
/* Row 0, column 0 of a query, or "" when there is no row. */
std::string QueryValue(const TestDb &db, const std::string &query);

/* The shipped initial-database file for the engine. */
std::string ShippedSchema(Engine e);

/* NewDb, then "vldbmgr init" with the shipped file; the test fails unless it
   succeeded. */
TestDb InitDb(Engine e = Engine::SQLite);

/* Config row helpers on the engine directly. */
std::string ConfigValue(const TestDb &db, const std::string &name);
void SetConfigValue(const TestDb &db, const std::string &name, const std::string &value);

/* Replaces every colour escape sequence by a readable tag
   ("<15>", "<7>" ...), so colour expectations read well. */
std::string ShowColors(const std::string &out);

}  // namespace vt

#endif
