/*
 * hardening_faults_test.cpp - an upgrade that does not end normally: the
 * tool killed with SIGKILL at many points, the server connection gone in
 * the middle of an upgrade and of a check, and (SQLite) a full disk.  After
 * each, the stored version must be that of a committed step whose schema
 * and data equal an uninterrupted upgrade stopped at that version, and a
 * second run must complete to 83 with the same result as an uninterrupted
 * one.
 *
 * The reference for version V is made independently of the fault: a
 * trigger on the config table refuses the statement that would store V+1,
 * so the walk from the fixture fails in the step from V and rolls it back,
 * exactly at the end of the committed step V.  The trigger is dropped
 * before the database is looked at.
 *
 * The fixture is tests/fixtures/v48.sql (35 steps, 246 statements on
 * SQLite).  MySQL is left out: its DDL commits on its own, so a step cut
 * short can leave part of its work (see the recovery files of the table
 * rebuilds).
 */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "harness.h"

extern char **environ;

namespace {

const int kFixtureVersion = 48;

double Now()
{
   struct timespec ts;
   clock_gettime(CLOCK_MONOTONIC, &ts);
   return ts.tv_sec + ts.tv_nsec / 1e9;
}

vt::TestDb Fixture(vt::Engine e)
{
   vt::TestDb db = vt::NewDb(e);
   vt::Exec(db, vt::ReadFile(vt::SourceDir() + "/tests/fixtures/v48.sql"));
   vt::SetConfigValue(db, "DBSyntax", vt::EngineSyntax(e));
   return db;
}

/* Rows of a query as sorted text lines: row order is not part of the state. */
std::string SortedRows(const vt::TestDb &db, const std::string &query)
{
   std::vector<std::string> lines;
   for (const auto &row : vt::Query(db, query))
   {
      std::string line;
      for (const auto &field : row)
         line += field + "|";
      lines.push_back(line);
   }
   std::sort(lines.begin(), lines.end());
   std::string text;
   for (const auto &line : lines)
      text += line + "\n";
   return text;
}

/* Schema (tables, columns, indexes) and every row of every table. */
std::string Snapshot(const vt::TestDb &db)
{
   std::string text;
   std::string tablesQuery;
   if (db.engine == vt::Engine::SQLite)
   {
      // A read-write open first: it rolls back what a killed run left in
      // the journal, as the next run of the tool would.
      vt::Exec(db, "SELECT count(*) FROM sqlite_master;\n");
      text += SortedRows(db, "SELECT type,name,tbl_name,sql FROM sqlite_master WHERE name NOT LIKE 'sqlite_%' "
                             "AND type<>'trigger'");
      tablesQuery = "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%' ORDER BY name";
   }
   else
   {
      text += SortedRows(db, "SELECT table_name,column_name,data_type,is_nullable,column_default,ordinal_position "
                             "FROM information_schema.columns WHERE table_schema=current_schema()");
      text += SortedRows(db, "SELECT indexname,indexdef FROM pg_indexes WHERE schemaname=current_schema()");
      tablesQuery = "SELECT table_name FROM information_schema.tables WHERE table_schema=current_schema() "
                    "AND table_type='BASE TABLE' ORDER BY table_name";
   }
   for (const auto &row : vt::Query(db, tablesQuery))
      text += "== " + row[0] + "\n" + SortedRows(db, "SELECT * FROM " + row[0]);
   return text;
}

/* A trigger that refuses to store format version nVersion. */
void BlockVersion(const vt::TestDb &db, int nVersion)
{
   std::string v = std::to_string(nVersion);
   if (db.engine == vt::Engine::SQLite)
      vt::Exec(db, "CREATE TRIGGER vlt_stop BEFORE UPDATE ON config WHEN NEW.var_name='DBFormatVersion' AND "
                   "NEW.var_value='" + v + "' BEGIN SELECT RAISE(ABORT,'stopped for the test'); END;\n");
   else
      vt::Exec(db, "CREATE FUNCTION vlt_stop() RETURNS trigger AS $$ BEGIN IF NEW.var_name='DBFormatVersion' AND "
                   "NEW.var_value='" + v + "' THEN RAISE EXCEPTION 'stopped for the test'; END IF; RETURN NEW; END $$ "
                   "LANGUAGE plpgsql;\n"
                   "CREATE TRIGGER vlt_stop BEFORE UPDATE ON config FOR EACH ROW EXECUTE FUNCTION vlt_stop();\n");
}

void UnblockVersion(const vt::TestDb &db)
{
   if (db.engine == vt::Engine::SQLite)
      vt::Exec(db, "DROP TRIGGER vlt_stop;\n");
   else
      vt::Exec(db, "DROP TRIGGER vlt_stop ON config;\nDROP FUNCTION vlt_stop();\n");
}

/* The state of an uninterrupted upgrade from the fixture, stopped at the
   end of the committed step to nVersion (made once per engine and version). */
const std::string &Reference(vt::Engine e, int nVersion)
{
   static std::map<std::pair<vt::Engine, int>, std::string> s_cache;
   auto key = std::make_pair(e, nVersion);
   auto it = s_cache.find(key);
   if (it != s_cache.end())
      return it->second;
   vt::TestDb db = Fixture(e);
   if (nVersion < 83)
      BlockVersion(db, nVersion + 1);
   vt::RunResult r = vt::Run(db, { "-f", "upgrade" });
   std::string tail = nVersion < 83 ? "Database upgrade failed\n" : "Database upgrade succeeded\n";
   EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), tail.size())), tail)
      << "reference run to " << nVersion << ":\n" << r.out;
   if (nVersion < 83)
      UnblockVersion(db);
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), std::to_string(nVersion));
   return s_cache[key] = Snapshot(db);
}

struct WatchedRun
{
   std::string out;
   int status = -1;
};

/* What a watcher gets: the output so far, the process, and (on a
   terminal) the terminal to type on, else -1. */
typedef std::function<bool(const std::string &, pid_t, int)> Watcher;

/* True when the tool waits for a key on the terminal. */
bool WaitsForKey(int fdTerminal)
{
   struct termios t;
   return fdTerminal >= 0 && tcgetattr(fdTerminal, &t) == 0 && (t.c_lflag & (ICANON | ECHO)) == 0;
}

/*
 * Runs vldbmgr -c <config> args with standard output on a pipe, or with
 * bTerminal on a pseudo-terminal that is also its controlling terminal;
 * onOutput sees the output so far every 20 ms and after every read, and
 * may act on the process (signal it, type on the terminal, act on the
 * database); it returns false to stop watching (the run is then only
 * waited for).
 */
WatchedRun RunWatched(const vt::TestDb &db, const std::vector<std::string> &args, const Watcher &onOutput,
                      bool bTerminal = false)
{
   WatchedRun run;
   int fdRead = -1, fdWrite = -1;
   if (bTerminal)
   {
      if (openpty(&fdRead, &fdWrite, nullptr, nullptr, nullptr) != 0)
      {
         ADD_FAILURE() << "openpty failed";
         return run;
      }
      struct termios t;
      tcgetattr(fdWrite, &t);
      t.c_oflag &= ~OPOST;   // "\n" stays "\n"
      tcsetattr(fdWrite, TCSANOW, &t);
   }
   else
   {
      int outPipe[2];
      if (pipe(outPipe) != 0)
      {
         ADD_FAILURE() << "pipe failed";
         return run;
      }
      fdRead = outPipe[0];
      fdWrite = outPipe[1];
   }
   std::vector<std::string> env;
   for (char **p = environ; *p != nullptr; p++)
      if (std::string(*p).rfind("VELMOR_REGISTRY=", 0) != 0 && std::string(*p).rfind("NO_COLOR=", 0) != 0)
         env.push_back(*p);
   env.push_back("VELMOR_REGISTRY=/nonexistent/velmor-registry.conf");
   env.push_back("NO_COLOR=1");
   std::string tool = vt::ToolPath();
   std::vector<std::string> words = { tool, "-c", db.config };
   words.insert(words.end(), args.begin(), args.end());

   fflush(nullptr);
   pid_t pid = fork();
   if (pid == 0)
   {
      setsid();
      if (bTerminal)
         ioctl(fdWrite, TIOCSCTTY, 0);
      int fdNull = open("/dev/null", O_RDWR);
      dup2(fdNull, 0);
      dup2(fdWrite, 1);
      dup2(fdNull, 2);
      for (int fd = 3; fd < 1024; fd++)
         close(fd);
      std::vector<char *> argv, envp;
      for (std::string &w : words)
         argv.push_back(&w[0]);
      argv.push_back(nullptr);
      for (std::string &e : env)
         envp.push_back(&e[0]);
      envp.push_back(nullptr);
      execve(tool.c_str(), argv.data(), envp.data());
      _exit(127);
   }
   close(fdWrite);
   bool bWatching = true;
   double start = Now();
   for (;;)
   {
      struct pollfd p = { fdRead, POLLIN, 0 };
      if (poll(&p, 1, 20) > 0)
      {
         char buf[4096];
         ssize_t n = read(fdRead, buf, sizeof(buf));
         if (n <= 0)
            break;   // end of the pipe, or EIO once the terminal's last user is gone
         run.out.append(buf, (size_t)n);
      }
      if (bWatching)
         bWatching = onOutput(run.out, pid, bTerminal ? fdRead : -1);
      if (Now() - start > 60)
      {
         ADD_FAILURE() << "the tool did not end; output:\n" << run.out;
         kill(pid, SIGKILL);
         break;
      }
   }
   close(fdRead);
   int status = 0;
   waitpid(pid, &status, 0);
   run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
   return run;
}

size_t CountTraceLines(const std::string &out)
{
   size_t n = 0;
   for (size_t pos = 0; (pos = out.find("\n>>> ", pos)) != std::string::npos; pos += 5)
      n++;
   return n;
}

/* The stored version equals a committed step and the whole state equals
   the reference there; a second upgrade then ends as an uninterrupted one. */
void ExpectCommittedThenResumes(const vt::TestDb &db, const std::string &what)
{
   if (db.engine == vt::Engine::SQLite)
      vt::Exec(db, "SELECT count(*) FROM sqlite_master;\n");   // rolls back a hot journal
   std::string stored = vt::ConfigValue(db, "DBFormatVersion");
   int nVersion = atoi(stored.c_str());
   ASSERT_TRUE(nVersion >= kFixtureVersion && nVersion <= 83) << what << ": stored version \"" << stored << "\"";
   EXPECT_EQ(Snapshot(db), Reference(db.engine, nVersion)) << what << ": state at version " << nVersion;

   vt::RunResult r = vt::Run(db, { "-f", "upgrade" });
   std::string tail = nVersion == 83 ? "Your database format is up to date\n" : "Database upgrade succeeded\n";
   EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), tail.size())), tail) << what << ":\n" << r.out;
   if (nVersion < 83)
   {
      EXPECT_EQ(r.out.find("Upgrading from version " + std::to_string(nVersion) + " to " +
                           std::to_string(nVersion + 1) + "\n"),
                std::string(vt::kBanner).size() + 22)
         << what << ": the rerun must resume at " << nVersion << ":\n" << r.out;
   }
   EXPECT_EQ(Snapshot(db), Reference(db.engine, 83)) << what << ": state after the rerun";
}

std::vector<vt::Engine> SqliteAndPostgres()
{
   std::vector<vt::Engine> out;
   for (vt::Engine e : vt::TestEngines())
      if (e == vt::Engine::SQLite || e == vt::Engine::PgSQL)
         out.push_back(e);
   return out;
}

/* Kill points: after the N-th traced statement, for N spread over the
   whole walk, in four groups so that each test stays short. */
struct KillGroup
{
   vt::Engine engine;
   int nGroup;
};

void PrintTo(const KillGroup &g, std::ostream *os)
{
   *os << vt::EngineName(g.engine) << " group " << g.nGroup;
}

const int kGroups = 4;
const int kPointsPerGroup = 5;
const int kStatements = 246;   // traced statements of the walk from 48 (SQLite)

struct KilledUpgrade : ::testing::TestWithParam<KillGroup>
{
};

TEST_P(KilledUpgrade, LeavesACommittedStepAndResumes)
{
   const KillGroup &g = GetParam();
   const int nPoints = kGroups * kPointsPerGroup;
   for (int i = 0; i < kPointsPerGroup; i++)
   {
      // Points g, g + kGroups, ... interleave the groups over the walk.
      int nPoint = g.nGroup + i * kGroups;
      size_t nAfter = 1 + (size_t)nPoint * (kStatements - 1) / (nPoints - 1);
      vt::TestDb db = Fixture(g.engine);
      bool bKilled = false;
      WatchedRun run = RunWatched(db, { "-t", "-f", "upgrade" }, [&](const std::string &out, pid_t pid, int) {
         if (CountTraceLines(out) >= nAfter)
         {
            kill(pid, SIGKILL);
            bKilled = true;
            return false;
         }
         return true;
      });
      std::string what = "killed after statement " + std::to_string(nAfter);
      // Only the last point may come too late, when the walk is already over.
      if (nPoint < nPoints - 1)
      {
         EXPECT_TRUE(bKilled) << what << ": the walk ended before the kill point";
      }
      if (bKilled)
      {
         EXPECT_EQ(run.status, 128 + SIGKILL) << what;
      }
      ExpectCommittedThenResumes(db, what);
   }
}

std::vector<KillGroup> KillGroups()
{
   std::vector<KillGroup> out;
   for (vt::Engine e : SqliteAndPostgres())
      for (int g = 0; g < kGroups; g++)
         out.push_back({ e, g });
   return out;
}

INSTANTIATE_TEST_SUITE_P(Points, KilledUpgrade, ::testing::ValuesIn(KillGroups()),
                         [](const ::testing::TestParamInfo<KillGroup> &info) {
                            return std::string(vt::EngineName(info.param.engine)) + "_" +
                                   std::to_string(info.param.nGroup);
                         });



/*** The server goes away ***/

/* Ends every other connection to the test database on the server: for the
   tool this is the server going away under it (the connection drops in
   the middle of its transaction), without stopping the server that the
   other tests share. */
void DropToolConnection(const vt::TestDb &db)
{
   vt::Query(db, "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname='" + db.name +
                    "' AND pid<>pg_backend_pid()");
}

std::vector<vt::Engine> Postgres()
{
   std::vector<vt::Engine> out;
   for (vt::Engine e : vt::TestEngines())
      if (e == vt::Engine::PgSQL)
         out.push_back(e);
   return out;
}

struct ServerGone : ::testing::TestWithParam<vt::Engine>
{
};

/* The connection is dropped while the tool waits (stopped) after tracing
   the N-th statement: that statement fails with the engine's reason, the
   step is rolled back by the server, the walk ends "failed", and the next
   run resumes at the step that failed. */
TEST_P(ServerGone, DuringUpgrade)
{
   for (size_t nAfter : { (size_t)3, (size_t)60, (size_t)150 })
   {
      vt::TestDb db = Fixture(GetParam());
      WatchedRun run = RunWatched(db, { "-t", "-f", "upgrade" }, [&](const std::string &out, pid_t pid, int) {
         if (CountTraceLines(out) < nAfter)
            return true;
         kill(pid, SIGSTOP);
         DropToolConnection(db);
         kill(pid, SIGCONT);
         return false;
      });
      std::string what = "connection dropped after statement " + std::to_string(nAfter);
      EXPECT_EQ(run.status, 0) << what;
      // The drop lands on a statement or on the commit, as it happens, or
      // on the begin of the next step when the tool got past the last
      // statement of a step and its commit before it was stopped.
      bool bOnBegin = run.out.find("Unable to start a transaction for the upgrade from version ") != std::string::npos;
      EXPECT_TRUE(run.out.find("SQL query failed (") != std::string::npos ||
                  run.out.find("Unable to commit the upgrade from version ") != std::string::npos || bOnBegin)
         << what << ":\n" << run.out;
      const std::string tail = bOnBegin ? "Database upgrade failed\n"
                                        : "Rolling back last stage due to upgrade errors...\nDatabase upgrade failed\n";
      EXPECT_EQ(run.out.substr(run.out.size() - std::min(run.out.size(), tail.size())), tail)
         << what << ":\n" << run.out;
      ExpectCommittedThenResumes(db, what);
   }
}

/* In the middle of a check: the repairs made before are gone with the
   transaction, nothing is reported as committed, and a second check finds
   and repairs the same problems. */
TEST_P(ServerGone, DuringCheck)
{
   vt::TestDb db = vt::InitDb(GetParam());
   vt::Exec(db, "INSERT INTO nodes (id,primary_ip,community) VALUES (10,'0.0.0.0','public');\n"
                "INSERT INTO nodes (id,primary_ip,community) VALUES (11,'0.0.0.0','public');\n");
   // On a terminal, so that the tool waits at each question: yes to the
   // first repair; at the second the connection is dropped, then yes; yes
   // to the commit.
   const std::string first = "Missing node object 10 properties. Create? (Y/N) ";
   const std::string second = "Missing node object 11 properties. Create? (Y/N) ";
   const std::string commit = "Commit changes (Y/N) ";
   bool bDropped = false;
   int nAnswered = 0;
   WatchedRun run = RunWatched(
      db, { "check" },
      [&](const std::string &out, pid_t, int fdTerminal) {
         if (!WaitsForKey(fdTerminal))
            return true;
         const std::string *questions[] = { &first, &second, &commit };
         if (nAnswered < 3 && out.size() >= questions[nAnswered]->size() &&
             out.compare(out.size() - questions[nAnswered]->size(), questions[nAnswered]->size(),
                         *questions[nAnswered]) == 0)
         {
            if (nAnswered == 1)
            {
               DropToolConnection(db);
               bDropped = true;
            }
            if (write(fdTerminal, "y", 1) == 1)
               nAnswered++;
         }
         return nAnswered < 3;
      },
      true);
   EXPECT_TRUE(bDropped) << run.out;
   EXPECT_EQ(run.status, 0);
   EXPECT_NE(run.out.find("\r" + first + "Y\n\r" + second + "Y\nSQL query failed ("), std::string::npos) << run.out;
   const std::string tail = "1 errors was corrected\nDatabase still contain errors\n" + commit +
                            "Y\nCommitting changes...\n"
                            "Unable to commit changes; the database keeps its state from before the check\n"
                            "Database check completed\n";
   EXPECT_EQ(run.out.substr(run.out.size() - std::min(run.out.size(), tail.size())), tail) << run.out;
   EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM object_properties WHERE object_id IN (10,11)"), "0");

   vt::RunResult r = vt::Run(db, { "-f", "check" });
   EXPECT_NE(r.out.find("Missing node object 10 properties. Create? (Y/N) Y\n"), std::string::npos) << r.out;
   EXPECT_NE(r.out.find("Changes was successfully committed to database\nDatabase check completed\n"),
             std::string::npos)
      << r.out;
   EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM object_properties WHERE object_id IN (10,11)"), "2");
}

INSTANTIATE_TEST_SUITE_P(Engines, ServerGone, ::testing::ValuesIn(Postgres()), vt::EngineParamName());
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ServerGone);

/*** A full disk (SQLite) ***/

/*
 * A small tmpfs of its own holds the database: a real file system that
 * runs out of space, as a full disk does (a limit inside SQLite would not
 * be the same thing).  Mounting needs root; without it the tests skip.
 */
class SmallFileSystem
{
public:
   explicit SmallFileSystem(size_t nBytes)
   {
      m_dir = vt::TempDir() + "/small";
      mkdir(m_dir.c_str(), 0700);
      std::string options = "size=" + std::to_string(nBytes);
      m_bMounted = mount("tmpfs", m_dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
   }
   ~SmallFileSystem()
   {
      if (m_bMounted)
         umount2(m_dir.c_str(), MNT_DETACH);
   }
   bool Mounted() const { return m_bMounted; }
   const std::string &Dir() const { return m_dir; }

   /* Fills the file system up to nFree bytes (whole pages) of free space. */
   void LeaveFree(size_t nFree)
   {
      std::string filler = m_dir + "/filler";
      int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      static const char block[4096] = { 0 };
      while (write(fd, block, sizeof(block)) == (ssize_t)sizeof(block))
         ;
      close(fd);
      struct stat st;
      stat(filler.c_str(), &st);
      off_t nSize = st.st_size > (off_t)nFree ? st.st_size - (off_t)nFree : 0;
      truncate(filler.c_str(), nSize & ~(off_t)4095);
   }
   void Free() { unlink((m_dir + "/filler").c_str()); }

private:
   std::string m_dir;
   bool m_bMounted = false;
};

/* A SQLite database in the folder, with its configuration file outside. */
vt::TestDb DbIn(const std::string &dir)
{
   vt::TestDb db;
   db.engine = vt::Engine::SQLite;
   db.dir = vt::TempDir();
   db.name = dir + "/velmor.db";
   db.config = vt::WriteFile(db.dir + "/velmord.conf", "DBDriver = sqlite\nDBName = " + db.name + "\n");
   return db;
}

/* The upgrade runs out of space at different steps (by the room left):
   the failing statement or commit is reported with the engine's reason,
   the step is rolled back, and with room again the next run resumes. */
TEST(FullDisk, DuringUpgrade)
{
   for (size_t nFree : { (size_t)8 << 10, (size_t)48 << 10, (size_t)96 << 10, (size_t)160 << 10 })
   {
      SmallFileSystem fs(2 << 20);
      if (!fs.Mounted())
         GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
      vt::TestDb db = DbIn(fs.Dir());
      vt::Exec(db, vt::ReadFile(vt::SourceDir() + "/tests/fixtures/v48.sql"));
      vt::SetConfigValue(db, "DBSyntax", "SQLITE");
      fs.LeaveFree(nFree);

      vt::RunResult r = vt::Run(db, { "-f", "upgrade" });
      std::string what = std::to_string(nFree >> 10) + " KiB free";
      EXPECT_EQ(r.status, 0) << what;
      // The reason is given: with the failed statement, or for a failed
      // commit on standard error.
      EXPECT_TRUE(r.out.find("SQL query failed (database or disk is full):") != std::string::npos ||
                  (r.out.find("Unable to commit the upgrade from version ") != std::string::npos &&
                   r.err == "Database driver \"sqlite\": COMMIT failed: database or disk is full\n"))
         << what << ":\n" << r.out << r.err;
      const std::string tail = "Rolling back last stage due to upgrade errors...\nDatabase upgrade failed\n";
      EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), tail.size())), tail) << what << ":\n" << r.out;

      fs.Free();
      ExpectCommittedThenResumes(db, what);
   }
}

/* The repairs of a check on a full disk: they fail or their commit does;
   either way nothing is stored and the output says so; with room again
   the same check repairs everything. */
TEST(FullDisk, DuringCheck)
{
   SmallFileSystem fs(4 << 20);
   if (!fs.Mounted())
      GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
   vt::TestDb db = DbIn(fs.Dir());
   vt::RunResult r = vt::Run(db, { "init", vt::ShippedSchema(vt::Engine::SQLite) });
   ASSERT_EQ(r.out, std::string(vt::kBanner) + "Initializing database...\nDatabase initialized successfully\n");
   std::string sql = "BEGIN;\n";
   for (int id = 1000; id < 3000; id++)
      sql += "INSERT INTO nodes (id,primary_ip,community) VALUES (" + std::to_string(id) + ",'0.0.0.0','public');\n";
   vt::Exec(db, sql + "COMMIT;\n");
   fs.LeaveFree(16 << 10);

   r = vt::Run(db, { "-f", "check" });
   EXPECT_EQ(r.status, 0);
   EXPECT_EQ(r.out.find("Changes was successfully committed to database"), std::string::npos) << r.out;
   EXPECT_TRUE(r.out.find("SQL query failed (database or disk is full):") != std::string::npos ||
               (r.out.find("Unable to commit changes; the database keeps its state from before the check\n") !=
                   std::string::npos &&
                r.err == "Database driver \"sqlite\": COMMIT failed: database or disk is full\n"))
      << r.out.substr(0, 3000) << r.err;
   EXPECT_EQ(r.out.substr(r.out.size() - 25), "Database check completed\n");
   EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM object_properties WHERE object_id>=1000"), "0");

   fs.Free();
   r = vt::Run(db, { "-f", "check" });
   EXPECT_NE(r.out.find("Changes was successfully committed to database\nDatabase check completed\n"),
             std::string::npos)
      << r.out.substr(r.out.size() - std::min<size_t>(r.out.size(), 2000));
   EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM object_properties WHERE object_id>=1000"), "2000");
}

}  // namespace
