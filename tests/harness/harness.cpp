/*
 * harness.cpp - runs the real vldbmgr binary (with pipes, or under a
 * pseudo-terminal that types keys when the tool waits for one) and gives the
 * tests fresh SQLite databases; server engines come from engines.cpp.
 */
#include "harness.h"
#include "engines.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

extern char **environ;

namespace vt {

const char *const kBanner = "Velmor Database Manager Version 0.2.23-rc2\n\n";

namespace {

std::vector<std::string> g_tempDirs;

void RemoveTempDirs()
{
   if (getenv("VT_KEEP_TMP") != nullptr)
      return;
   for (const std::string &dir : g_tempDirs)
   {
      std::string cmd = "rm -rf '" + dir + "'";
      if (system(cmd.c_str()) != 0)
         fprintf(stderr, "cannot remove %s\n", dir.c_str());
   }
}

double Now()
{
   struct timespec ts;
   clock_gettime(CLOCK_MONOTONIC, &ts);
   return ts.tv_sec + ts.tv_nsec / 1e9;
}

/* The child's environment: ours, without what would change colours or the
   registry, plus the test's own entries. */
std::vector<std::string> ChildEnvironment(const RunOptions &opt)
{
   std::vector<std::string> env;
   for (char **p = environ; *p != nullptr; p++)
   {
      std::string entry(*p);
      if (entry.rfind("NO_COLOR=", 0) == 0 || entry.rfind("VLDBMGR_FORCE_COLOR=", 0) == 0 ||
          entry.rfind("VELMOR_REGISTRY=", 0) == 0)
         continue;
      env.push_back(entry);
   }
   env.push_back("VELMOR_REGISTRY=/nonexistent/velmor-registry.conf");
   for (const std::string &entry : opt.env)
   {
      std::string name = entry.substr(0, entry.find('=') + 1);
      for (auto it = env.begin(); it != env.end();)
         it = it->rfind(name, 0) == 0 ? env.erase(it) : it + 1;
      env.push_back(entry);
   }
   return env;
}

void ReadAvailable(int fd, std::string *out, bool *open)
{
   char buf[65536];
   ssize_t n = read(fd, buf, sizeof(buf));
   if (n > 0)
      out->append(buf, (size_t)n);
   else if (n == 0 || (errno != EINTR && errno != EAGAIN))
      *open = false;
}

bool TerminalWaitsForKey(int fdMaster)
{
   struct termios t;
   if (tcgetattr(fdMaster, &t) != 0)
      return false;
   return (t.c_lflag & (ICANON | ECHO)) == 0;
}

}  // namespace

std::string SourceDir()
{
   return VL_SOURCE_DIR;
}

std::string ToolPath()
{
   const char *pszTool = getenv("VLDBMGR_TOOL");
   return pszTool != nullptr ? pszTool : VL_TOOL_PATH;
}

std::string TempDir()
{
   if (g_tempDirs.empty())
      atexit(RemoveTempDirs);
   const char *base = getenv("TMPDIR");
   std::string templ = std::string(base != nullptr ? base : "/tmp") + "/vldbmgr-test-XXXXXX";
   std::vector<char> buf(templ.begin(), templ.end());
   buf.push_back(0);
   if (mkdtemp(buf.data()) == nullptr)
   {
      ADD_FAILURE() << "mkdtemp: " << strerror(errno);
      return "/tmp";
   }
   g_tempDirs.push_back(buf.data());
   return buf.data();
}

std::string WriteFile(const std::string &path, const std::string &contents)
{
   std::ofstream out(path, std::ios::binary | std::ios::trunc);
   out << contents;
   if (!out)
      ADD_FAILURE() << "cannot write " << path;
   return path;
}

std::string ReadFile(const std::string &path)
{
   std::ifstream in(path, std::ios::binary);
   std::stringstream ss;
   ss << in.rdbuf();
   return ss.str();
}

RunResult RunTool(const std::vector<std::string> &args, const RunOptions &opt)
{
   RunResult result;
   std::string tool = ToolPath();
   std::vector<std::string> env = ChildEnvironment(opt);
   std::string cwd = opt.cwd.empty() ? TempDir() : opt.cwd;

   int errPipe[2], outPipe[2] = { -1, -1 };
   int fdMaster = -1, fdSlave = -1;
   if (pipe(errPipe) != 0)
   {
      ADD_FAILURE() << "pipe: " << strerror(errno);
      return result;
   }
   if (opt.bPty)
   {
      if (openpty(&fdMaster, &fdSlave, nullptr, nullptr, nullptr) != 0)
      {
         ADD_FAILURE() << "openpty: " << strerror(errno);
         return result;
      }
      // Output exactly as written: no "\n" to "\r\n" translation.
      struct termios t;
      tcgetattr(fdSlave, &t);
      t.c_oflag &= ~OPOST;
      tcsetattr(fdSlave, TCSANOW, &t);
   }
   else if (pipe(outPipe) != 0)
   {
      ADD_FAILURE() << "pipe: " << strerror(errno);
      return result;
   }

   fflush(nullptr);
   pid_t pid = fork();
   if (pid == 0)
   {
      setsid();
      if (chdir(cwd.c_str()) != 0)
         _exit(126);
      int fdNull = open("/dev/null", O_RDONLY);
      dup2(fdNull, 0);
      if (opt.bPty)
      {
         ioctl(fdSlave, TIOCSCTTY, 0);
         dup2(fdSlave, 1);
      }
      else
      {
         dup2(outPipe[1], 1);
      }
      dup2(errPipe[1], 2);
      for (int fd = 3; fd < 1024; fd++)
         close(fd);
      std::vector<char *> argv;
      argv.push_back(const_cast<char *>(tool.c_str()));
      for (const std::string &a : args)
         argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      std::vector<char *> envp;
      for (const std::string &e : env)
         envp.push_back(const_cast<char *>(e.c_str()));
      envp.push_back(nullptr);
      execve(tool.c_str(), argv.data(), envp.data());
      _exit(127);
   }

   close(errPipe[1]);
   int fdOut;
   if (opt.bPty)
   {
      close(fdSlave);
      fdOut = fdMaster;
   }
   else
   {
      close(outPipe[1]);
      fdOut = outPipe[0];
   }

   bool outOpen = true, errOpen = true, exited = false;
   int status = 0;
   size_t nextKey = 0;
   double start = Now(), lastKey = 0, waitingSince = 0;
   while (outOpen || errOpen || !exited)
   {
      if (!exited && waitpid(pid, &status, WNOHANG) == pid)
         exited = true;
      if (exited && opt.bPty && outOpen)
      {
         // The terminal stays readable until drained; then it is done.
         struct pollfd p = { fdOut, POLLIN, 0 };
         if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN))
            outOpen = false;
      }
      struct pollfd fds[2];
      int n = 0;
      int iOut = -1, iErr = -1;
      if (outOpen)
      {
         fds[n] = { fdOut, POLLIN, 0 };
         iOut = n++;
      }
      if (errOpen)
      {
         fds[n] = { errPipe[0], POLLIN, 0 };
         iErr = n++;
      }
      if (n > 0)
         poll(fds, (nfds_t)n, 10);
      else if (!exited)
         usleep(2000);
      if (iOut >= 0 && (fds[iOut].revents & (POLLIN | POLLHUP | POLLERR)))
         ReadAvailable(fdOut, &result.out, &outOpen);
      if (iErr >= 0 && (fds[iErr].revents & (POLLIN | POLLHUP | POLLERR)))
         ReadAvailable(errPipe[0], &result.err, &errOpen);

      if (opt.bPty && !exited && fdMaster >= 0 && TerminalWaitsForKey(fdMaster))
      {
         double now = Now();
         if (waitingSince == 0)
            waitingSince = now;
         if (nextKey < opt.keys.size() && now - lastKey > 0.1)
         {
            if (write(fdMaster, &opt.keys[nextKey], 1) == 1)
               nextKey++;
            lastKey = now;
            waitingSince = 0;
         }
         else if (nextKey >= opt.keys.size() && now - waitingSince > 3.0)
         {
            // Nobody will type more: end of input, as Ctrl-D on a terminal.
            if (write(fdMaster, "\x04", 1) == 1)
               lastKey = now;
            waitingSince = 0;
         }
      }
      else
      {
         waitingSince = 0;
      }

      if (Now() - start > opt.timeoutSec)
      {
         ADD_FAILURE() << "vldbmgr did not finish within " << opt.timeoutSec << " s; output so far:\n" << result.out;
         kill(pid, SIGKILL);
         waitpid(pid, &status, 0);
         exited = true;
         break;
      }
   }
   if (fdMaster >= 0)
      close(fdMaster);
   if (!opt.bPty)
      close(outPipe[0]);
   close(errPipe[0]);
   if (!exited)
      waitpid(pid, &status, 0);
   result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
   return result;
}

const char *EngineName(Engine e)
{
   switch (e)
   {
      case Engine::SQLite: return "sqlite";
      case Engine::PgSQL: return "pgsql";
      case Engine::MySQL: return "mysql";
      case Engine::ODBC: return "odbc";
   }
   return "?";
}

const char *EngineSyntax(Engine e)
{
   switch (e)
   {
      case Engine::SQLite: return "SQLITE";
      case Engine::PgSQL: return "PGSQL";
      case Engine::MySQL: return "MYSQL";
      case Engine::ODBC: return "PGSQL";
   }
   return "?";
}

std::vector<Engine> TestEngines()
{
   std::vector<Engine> engines = { Engine::SQLite };
   for (Engine e : { Engine::PgSQL, Engine::MySQL, Engine::ODBC })
      if (EngineAvailable(e))
         engines.push_back(e);
   return engines;
}

TestDb NewDb(Engine e)
{
   TestDb db;
   db.engine = e;
   db.dir = TempDir();
   std::string configText;
   if (e == Engine::SQLite)
   {
      db.name = db.dir + "/velmor.db";
      configText = "DBDriver = sqlite\nDBName = " + db.name + "\n";
   }
   else
   {
      std::string error;
      if (!EngineNewDb(e, &db, &configText, &error))
         ADD_FAILURE() << "cannot make a " << EngineName(e) << " database: " << error;
   }
   db.config = WriteFile(db.dir + "/velmord.conf", configText);
   return db;
}

RunResult Run(const TestDb &db, const std::vector<std::string> &args, const RunOptions &opt)
{
   std::vector<std::string> all = { "-c", db.config };
   all.insert(all.end(), args.begin(), args.end());
   return RunTool(all, opt);
}

bool TryExec(const TestDb &db, const std::string &sql, std::string *error)
{
   std::string ignored;
   if (error == nullptr)
      error = &ignored;
   if (db.engine != Engine::SQLite)
      return EngineExec(db, sql, error);
   sqlite3 *pDb = nullptr;
   if (sqlite3_open(db.name.c_str(), &pDb) != SQLITE_OK)
   {
      *error = sqlite3_errmsg(pDb);
      sqlite3_close(pDb);
      return false;
   }
   sqlite3_busy_timeout(pDb, 5000);
   char *pszError = nullptr;
   bool ok = sqlite3_exec(pDb, sql.c_str(), nullptr, nullptr, &pszError) == SQLITE_OK;
   if (!ok)
      *error = pszError != nullptr ? pszError : "error";
   sqlite3_free(pszError);
   sqlite3_close(pDb);
   return ok;
}

void Exec(const TestDb &db, const std::string &sql)
{
   std::string error;
   if (!TryExec(db, sql, &error))
      ADD_FAILURE() << "SQL failed on " << EngineName(db.engine) << ": " << error << "\n" << sql.substr(0, 2000);
}

std::vector<std::vector<std::string>> Query(const TestDb &db, const std::string &query)
{
   std::vector<std::vector<std::string>> rows;
   std::string error;
   if (db.engine != Engine::SQLite)
   {
      if (!EngineQuery(db, query, &rows, &error))
         ADD_FAILURE() << "query failed on " << EngineName(db.engine) << ": " << error << "\n" << query;
      return rows;
   }
   sqlite3 *pDb = nullptr;
   if (sqlite3_open_v2(db.name.c_str(), &pDb, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
   {
      ADD_FAILURE() << "cannot open " << db.name << ": " << sqlite3_errmsg(pDb);
      sqlite3_close(pDb);
      return rows;
   }
   sqlite3_busy_timeout(pDb, 5000);
   sqlite3_stmt *pStmt = nullptr;
   if (sqlite3_prepare_v2(pDb, query.c_str(), -1, &pStmt, nullptr) != SQLITE_OK)
   {
      ADD_FAILURE() << "query failed: " << sqlite3_errmsg(pDb) << "\n" << query;
      sqlite3_close(pDb);
      return rows;
   }
   int rc;
   while ((rc = sqlite3_step(pStmt)) == SQLITE_ROW)
   {
      std::vector<std::string> row;
      for (int i = 0; i < sqlite3_column_count(pStmt); i++)
      {
         const unsigned char *p = sqlite3_column_text(pStmt, i);
         row.push_back(p != nullptr ? std::string((const char *)p, (size_t)sqlite3_column_bytes(pStmt, i)) : "");
      }
      rows.push_back(row);
   }
   if (rc != SQLITE_DONE)
      ADD_FAILURE() << "query failed: " << sqlite3_errmsg(pDb) << "\n" << query;
   sqlite3_finalize(pStmt);
   sqlite3_close(pDb);
   return rows;
}

std::string QueryValue(const TestDb &db, const std::string &query)
{
   auto rows = Query(db, query);
   return rows.empty() || rows[0].empty() ? std::string() : rows[0][0];
}

std::string ShippedSchema(Engine e)
{
   const char *name = e == Engine::ODBC ? "pgsql" : EngineName(e);
   return SourceDir() + "/examples/sql/dbinit_" + name + ".sql";
}

TestDb InitDb(Engine e)
{
   TestDb db = NewDb(e);
   RunResult r = Run(db, { "init", ShippedSchema(e) });
   EXPECT_EQ(r.out, std::string(kBanner) + "Initializing database...\nDatabase initialized successfully\n")
      << r.err;
   EXPECT_EQ(r.status, 0);
   return db;
}

std::string ConfigValue(const TestDb &db, const std::string &name)
{
   return QueryValue(db, "SELECT var_value FROM config WHERE var_name='" + name + "'");
}

void SetConfigValue(const TestDb &db, const std::string &name, const std::string &value)
{
   Exec(db, "DELETE FROM config WHERE var_name='" + name + "';\n"
            "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('" +
               name + "','" + value + "',0,0);\n");
}

std::string ShowColors(const std::string &out)
{
   static const std::pair<const char *, const char *> kCodes[] = {
      { "\x1b[0m", "<7>" },     { "\x1b[1;32m", "<10>" }, { "\x1b[1;31m", "<12>" },
      { "\x1b[1;33m", "<14>" }, { "\x1b[1;37m", "<15>" },
   };
   std::string s = out;
   for (const auto &code : kCodes)
   {
      std::string from = code.first;
      for (size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos))
      {
         s.replace(pos, from.size(), code.second);
         pos += strlen(code.second);
      }
   }
   return s;
}

}  // namespace vt
