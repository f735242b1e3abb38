/*
 * engines.cpp - the server engines behind the test harness.
 *
 * The servers are found through environment variables (scripts/servers.sh
 * writes them; a developer may point them at servers of their own):
 *
 *   VLT_PGSQL_HOST, VLT_PGSQL_PORT, VLT_PGSQL_USER, VLT_PGSQL_PASSWORD
 *   VLT_MYSQL_HOST, VLT_MYSQL_PORT, VLT_MYSQL_USER, VLT_MYSQL_PASSWORD
 *   VLT_ODBC_DRIVER   an ODBC driver for PostgreSQL (library path or the
 *                     name of an odbcinst.ini section); the odbc engine
 *                     runs against the PostgreSQL server above
 *   VLT_ENGINES       optional: a comma-separated list of the engine names
 *                     to run ("pgsql,mysql"); the others are left out
 *
 * The odbc engine's connection string asks the PostgreSQL ODBC driver for
 * statement-level rollback ("Protocol=7.4-2"), as an operator on
 * PostgreSQL through ODBC would, so that a failed statement inside a
 * transaction does not abort the whole transaction.
 *
 * The user must be allowed to create databases.  Every test database is
 * named "vlt_<pid>_<n>" and dropped when the test program ends (unless
 * VT_KEEP_TMP is set).  The harness reaches the databases through the
 * engines' own client libraries, never through the tool's drivers, so a
 * fault of a driver cannot hide itself.
 */
#include "engines.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#ifdef VT_HAVE_LIBPQ
#include <libpq-fe.h>
#endif
#ifdef VT_HAVE_LIBMARIADB
#include <mysql.h>
#endif

#include <map>
#include <sstream>

namespace vt {

namespace {

std::string Env(const char *pszName)
{
   const char *p = getenv(pszName);
   return p != nullptr ? p : "";
}

/* True when VLT_ENGINES is unset or names the engine. */
bool Selected(Engine e)
{
   std::string list = Env("VLT_ENGINES");
   if (list.empty())
      return true;
   std::stringstream ss(list);
   std::string item;
   while (std::getline(ss, item, ','))
      if (item == EngineName(e))
         return true;
   return false;
}

/* Splits SQL into statements at ";" that ends a line (or the text). */
std::vector<std::string> SplitStatements(const std::string &sql)
{
   std::vector<std::string> out;
   std::string current;
   std::stringstream ss(sql);
   std::string line;
   while (std::getline(ss, line))
   {
      std::string trimmed = line;
      while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\t' || trimmed.back() == '\r'))
         trimmed.pop_back();
      if (!current.empty())
         current += "\n";
      if (!trimmed.empty() && trimmed.back() == ';')
      {
         current += trimmed.substr(0, trimmed.size() - 1);
         out.push_back(current);
         current.clear();
      }
      else
         current += line;
   }
   if (current.find_first_not_of(" \t\r\n") != std::string::npos)
      out.push_back(current);
   // Drop empty statements (";" alone on a line).
   std::vector<std::string> result;
   for (const std::string &s : out)
      if (s.find_first_not_of(" \t\r\n") != std::string::npos)
         result.push_back(s);
   return result;
}

/* The databases this process made, per server engine, dropped at exit. */
std::vector<std::pair<Engine, std::string>> g_created;
bool g_bAtExit = false;
void DropCreated();

/* Connections to test databases kept open at most, per server. */
const size_t kMaxCachedConns = 8;

std::string NewName()
{
   static int s_nCounter = 0;
   return "vlt_" + std::to_string((long)getpid()) + "_" + std::to_string(++s_nCounter);
}

/* ---------------------------------------------------------------- PostgreSQL */

#ifdef VT_HAVE_LIBPQ
void IgnoreNotice(void *, const char *)
{
}

/* Open connections by database name ("postgres" for the administrative one). */
std::map<std::string, PGconn *> g_pgConns;

PGconn *PgConnection(const std::string &dbName, std::string *error)
{
   auto it = g_pgConns.find(dbName);
   if (it != g_pgConns.end() && PQstatus(it->second) == CONNECTION_OK)
      return it->second;
   if (it != g_pgConns.end())
   {
      PQfinish(it->second);
      g_pgConns.erase(it);
   }
   // The servers allow few connections (servers.sh: 50, shared with ODBC
   // and the tool's own runs): keep only a handful of test databases open.
   if (dbName != "postgres" && g_pgConns.size() >= kMaxCachedConns)
   {
      for (auto old = g_pgConns.begin(); old != g_pgConns.end();)
      {
         if (old->first != "postgres")
         {
            PQfinish(old->second);
            old = g_pgConns.erase(old);
         }
         else
            ++old;
      }
   }
   std::string host = Env("VLT_PGSQL_HOST"), port = Env("VLT_PGSQL_PORT"), user = Env("VLT_PGSQL_USER"),
               password = Env("VLT_PGSQL_PASSWORD");
   const char *keys[] = { "host", "port", "user", "password", "dbname", "client_encoding", nullptr };
   const char *values[] = { host.c_str(), port.c_str(), user.c_str(), password.c_str(), dbName.c_str(),
                            "UTF8", nullptr };
   PGconn *c = PQconnectdbParams(keys, values, 0);
   if (PQstatus(c) != CONNECTION_OK)
   {
      *error = PQerrorMessage(c);
      PQfinish(c);
      return nullptr;
   }
   PQsetNoticeProcessor(c, IgnoreNotice, nullptr);
   // Tests use one database after the other: keep the administrative
   // connection and the newest one, or a long run would use up the
   // server's connections.
   for (auto old = g_pgConns.begin(); old != g_pgConns.end();)
      if (old->first != "postgres")
      {
         PQfinish(old->second);
         old = g_pgConns.erase(old);
      }
      else
         ++old;
   g_pgConns[dbName] = c;
   return c;
}

bool PgRun(const std::string &dbName, const std::string &sql, std::vector<std::vector<std::string>> *rows,
           std::string *error)
{
   PGconn *c = PgConnection(dbName, error);
   if (c == nullptr)
      return false;
   PGresult *r = PQexec(c, sql.c_str());
   ExecStatusType s = PQresultStatus(r);
   bool ok = s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK || s == PGRES_EMPTY_QUERY;
   if (!ok)
      *error = PQresultErrorMessage(r);
   else if (rows != nullptr && s == PGRES_TUPLES_OK)
      for (int i = 0; i < PQntuples(r); i++)
      {
         std::vector<std::string> row;
         for (int j = 0; j < PQnfields(r); j++)
            row.push_back(PQgetisnull(r, i, j) ? "" : std::string(PQgetvalue(r, i, j), PQgetlength(r, i, j)));
         rows->push_back(row);
      }
   PQclear(r);
   return ok;
}

void PgCloseAll()
{
   for (auto &entry : g_pgConns)
      PQfinish(entry.second);
   g_pgConns.clear();
}
#endif

/* ---------------------------------------------------------------- MariaDB */

#ifdef VT_HAVE_LIBMARIADB
/* Open connections by database name ("" for the administrative one). */
std::map<std::string, MYSQL *> g_myConns;

MYSQL *MyConnection(const std::string &dbName, std::string *error)
{
   auto it = g_myConns.find(dbName);
   if (it != g_myConns.end())
   {
      if (mysql_ping(it->second) == 0)
         return it->second;
      mysql_close(it->second);
      g_myConns.erase(it);
   }
   // As for PostgreSQL: only a handful of test databases stay connected.
   if (!dbName.empty() && g_myConns.size() >= kMaxCachedConns)
   {
      for (auto old = g_myConns.begin(); old != g_myConns.end();)
      {
         if (!old->first.empty())
         {
            mysql_close(old->second);
            old = g_myConns.erase(old);
         }
         else
            ++old;
      }
   }
   MYSQL *m = mysql_init(nullptr);
   mysql_optionsv(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
   std::string host = Env("VLT_MYSQL_HOST"), user = Env("VLT_MYSQL_USER"), password = Env("VLT_MYSQL_PASSWORD");
   unsigned int port = (unsigned int)strtoul(Env("VLT_MYSQL_PORT").c_str(), nullptr, 10);
   if (mysql_real_connect(m, host.c_str(), user.c_str(), password.c_str(), dbName.empty() ? nullptr : dbName.c_str(),
                          port, nullptr, 0) == nullptr)
   {
      *error = mysql_error(m);
      mysql_close(m);
      return nullptr;
   }
   // As for PostgreSQL: the administrative connection and the newest one.
   for (auto old = g_myConns.begin(); old != g_myConns.end();)
      if (!old->first.empty())
      {
         mysql_close(old->second);
         old = g_myConns.erase(old);
      }
      else
         ++old;
   g_myConns[dbName] = m;
   return m;
}

bool MyRun(const std::string &dbName, const std::string &sql, std::vector<std::vector<std::string>> *rows,
           std::string *error)
{
   MYSQL *m = MyConnection(dbName, error);
   if (m == nullptr)
      return false;
   if (mysql_real_query(m, sql.data(), sql.size()) != 0)
   {
      *error = mysql_error(m);
      return false;
   }
   if (mysql_field_count(m) == 0)
      return true;
   MYSQL_RES *res = mysql_store_result(m);
   if (res == nullptr)
   {
      *error = mysql_error(m);
      return false;
   }
   unsigned int n = mysql_num_fields(res);
   MYSQL_ROW row;
   while ((row = mysql_fetch_row(res)) != nullptr)
   {
      unsigned long *lengths = mysql_fetch_lengths(res);
      std::vector<std::string> out;
      for (unsigned int j = 0; j < n; j++)
         out.push_back(row[j] != nullptr ? std::string(row[j], lengths[j]) : "");
      if (rows != nullptr)
         rows->push_back(out);
   }
   mysql_free_result(res);
   return true;
}

void MyCloseAll()
{
   for (auto &entry : g_myConns)
      mysql_close(entry.second);
   g_myConns.clear();
}
#endif

/* Runs one statement on the engine's server, in the named database. */
bool RunOn(Engine e, const std::string &dbName, const std::string &sql, std::vector<std::vector<std::string>> *rows,
           std::string *error)
{
   switch (e)
   {
#ifdef VT_HAVE_LIBPQ
      case Engine::PgSQL:
      case Engine::ODBC:
         return PgRun(dbName.empty() ? "postgres" : dbName, sql, rows, error);
#endif
#ifdef VT_HAVE_LIBMARIADB
      case Engine::MySQL:
         return MyRun(dbName, sql, rows, error);
#endif
      default:
         *error = std::string("no client library for ") + EngineName(e);
         return false;
   }
}

void DropCreated()
{
   if (!Env("VT_KEEP_TMP").empty())
      return;
#ifdef VT_HAVE_LIBPQ
   // A database cannot be dropped while we are still connected to it.
   for (auto it = g_pgConns.begin(); it != g_pgConns.end();)
      if (it->first != "postgres")
      {
         PQfinish(it->second);
         it = g_pgConns.erase(it);
      }
      else
         ++it;
#endif
   for (const auto &entry : g_created)
   {
      std::string error;
      if (entry.first == Engine::MySQL)
         RunOn(entry.first, "", "DROP DATABASE IF EXISTS `" + entry.second + "`", nullptr, &error);
      else if (!RunOn(entry.first, "", "DROP DATABASE IF EXISTS \"" + entry.second + "\" WITH (FORCE)", nullptr,
                      &error))
         // Servers before PostgreSQL 13 know no FORCE.
         RunOn(entry.first, "", "DROP DATABASE IF EXISTS \"" + entry.second + "\"", nullptr, &error);
   }
   g_created.clear();
#ifdef VT_HAVE_LIBPQ
   PgCloseAll();
#endif
#ifdef VT_HAVE_LIBMARIADB
   MyCloseAll();
#endif
}

}  // namespace

bool EngineAvailable(Engine e)
{
   if (!Selected(e))
      return false;
   switch (e)
   {
      case Engine::SQLite:
         return true;
      case Engine::PgSQL:
#ifdef VT_HAVE_LIBPQ
         return !Env("VLT_PGSQL_HOST").empty();
#else
         return false;
#endif
      case Engine::MySQL:
#ifdef VT_HAVE_LIBMARIADB
         return !Env("VLT_MYSQL_HOST").empty();
#else
         return false;
#endif
      case Engine::ODBC:
#ifdef VT_HAVE_LIBPQ
         return !Env("VLT_PGSQL_HOST").empty() && !Env("VLT_ODBC_DRIVER").empty();
#else
         return false;
#endif
   }
   return false;
}

bool EngineNewDb(Engine e, TestDb *db, std::string *configText, std::string *error)
{
   if (e == Engine::SQLite || !EngineAvailable(e))
   {
      *error = std::string("engine ") + EngineName(e) + " is not available";
      return false;
   }
   std::string name = NewName();
   std::string create = e == Engine::MySQL
                           ? "CREATE DATABASE `" + name + "` CHARACTER SET utf8mb4"
                           : "CREATE DATABASE \"" + name + "\" ENCODING 'UTF8' TEMPLATE template0";
   if (!RunOn(e, "", create, nullptr, error))
      return false;
   g_created.push_back({ e, name });
   if (!g_bAtExit)
   {
      atexit(DropCreated);
      g_bAtExit = true;
   }
   db->name = name;

   std::string text = std::string("DBDriver = ") + EngineName(e) + "\nDBName = " + name + "\n";
   if (e == Engine::MySQL)
      text += "DBServer = " + Env("VLT_MYSQL_HOST") + "\nDBLogin = " + Env("VLT_MYSQL_USER") +
              "\nDBPassword = " + Env("VLT_MYSQL_PASSWORD") + "\nDBDrvParams = port=" + Env("VLT_MYSQL_PORT") + "\n";
   else if (e == Engine::PgSQL)
      text += "DBServer = " + Env("VLT_PGSQL_HOST") + "\nDBLogin = " + Env("VLT_PGSQL_USER") +
              "\nDBPassword = " + Env("VLT_PGSQL_PASSWORD") + "\nDBDrvParams = port=" + Env("VLT_PGSQL_PORT") + "\n";
   else
      text += "DBLogin = " + Env("VLT_PGSQL_USER") + "\nDBPassword = " + Env("VLT_PGSQL_PASSWORD") +
              "\nDBDrvParams = Driver=" + Env("VLT_ODBC_DRIVER") + ";Server=" + Env("VLT_PGSQL_HOST") +
              ";Port=" + Env("VLT_PGSQL_PORT") + ";Protocol=7.4-2\n";
   *configText = text;
   return true;
}

bool EngineExec(const TestDb &db, const std::string &sql, std::string *error)
{
   for (const std::string &statement : SplitStatements(sql))
      if (!RunOn(db.engine, db.name, statement, nullptr, error))
         return false;
   return true;
}

bool EngineQuery(const TestDb &db, const std::string &query, std::vector<std::vector<std::string>> *rows,
                 std::string *error)
{
   return RunOn(db.engine, db.name, query, rows, error);
}

}  // namespace vt
