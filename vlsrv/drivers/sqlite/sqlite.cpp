/*
 * sqlite.cpp - SQLite driver.
 *
 * DBName is the database file's path; the other settings are not used.  A
 * file that does not exist yet is created only by the first statement that
 * writes (the init command's first CREATE), so a mistyped path for any
 * other command leaves no empty file behind: a select on it fails.  A
 * database locked by another process is waited for a few seconds.
 */
#include "vldriver.h"

#include <errno.h>
#include <sqlite3.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <new>
#include <string>

namespace {

const int kBusyTimeoutMs = 5000;

struct SqliteConnection
{
   sqlite3 *pDb = nullptr;       // null while the file is still to be created
   std::string path;
};

void SetError(char *pszError, size_t nSize, const char *pszText)
{
   snprintf(pszError, nSize, "%s", pszText);
}

bool OpenDatabase(SqliteConnection *pConn, int nFlags, char *pszError, size_t nErrorSize)
{
   sqlite3 *pDb = nullptr;
   int rc = sqlite3_open_v2(pConn->path.c_str(), &pDb, nFlags, nullptr);
   if (rc != SQLITE_OK)
   {
      snprintf(pszError, nErrorSize, "%s: %s", pConn->path.c_str(),
               pDb != nullptr ? sqlite3_errmsg(pDb) : sqlite3_errstr(rc));
      sqlite3_close(pDb);
      return false;
   }
   sqlite3_busy_timeout(pDb, kBusyTimeoutMs);
   sqlite3_extended_result_codes(pDb, 0);
   pConn->pDb = pDb;
   return true;
}

/* Opens (and so creates) a file that did not exist at connect time. */
bool EnsureCreated(SqliteConnection *pConn, char *pszError, size_t nErrorSize)
{
   if (pConn->pDb != nullptr)
      return true;
   return OpenDatabase(pConn, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, pszError, nErrorSize);
}

void *Connect(const VlDbConnParams *pParams, char *pszError, size_t nErrorSize)
{
   if (pParams->pszName == nullptr || *pParams->pszName == 0)
   {
      SetError(pszError, nErrorSize, "no database file given (DBName)");
      return nullptr;
   }
   SqliteConnection *pConn = new (std::nothrow) SqliteConnection;
   if (pConn == nullptr)
   {
      SetError(pszError, nErrorSize, "out of memory");
      return nullptr;
   }
   pConn->path = pParams->pszName;

   struct stat st;
   if (stat(pConn->path.c_str(), &st) == 0)
   {
      if (!S_ISREG(st.st_mode))
      {
         snprintf(pszError, nErrorSize, "%s: not a regular file", pConn->path.c_str());
         delete pConn;
         return nullptr;
      }
      if (!OpenDatabase(pConn, SQLITE_OPEN_READWRITE, pszError, nErrorSize))
      {
         delete pConn;
         return nullptr;
      }
      return pConn;
   }
   if (errno != ENOENT)
   {
      snprintf(pszError, nErrorSize, "%s: %s", pConn->path.c_str(), strerror(errno));
      delete pConn;
      return nullptr;
   }

   // The file is missing: its folder must exist, or nothing could ever be created.
   std::string dir = ".";
   size_t slash = pConn->path.find_last_of('/');
   if (slash != std::string::npos)
      dir = slash == 0 ? "/" : pConn->path.substr(0, slash);
   if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
   {
      snprintf(pszError, nErrorSize, "%s: folder %s does not exist", pConn->path.c_str(), dir.c_str());
      delete pConn;
      return nullptr;
   }
   return pConn;
}

void Disconnect(void *pHandle)
{
   SqliteConnection *pConn = static_cast<SqliteConnection *>(pHandle);
   if (pConn == nullptr)
      return;
   if (pConn->pDb != nullptr)
   {
      if (!sqlite3_get_autocommit(pConn->pDb))
         sqlite3_exec(pConn->pDb, "ROLLBACK", nullptr, nullptr, nullptr);
      sqlite3_close_v2(pConn->pDb);
   }
   delete pConn;
}

/*
 * Runs every statement of the text; pSink receives the rows of the first
 * statement that returns columns (a query), or nothing when pSink is null.
 */
int Execute(SqliteConnection *pConn, const char *pszQuery, VlResultSink *pSink, char *pszError,
            size_t nErrorSize)
{
   const char *pszTail = pszQuery;
   bool bColumnsSent = false;
   while (pszTail != nullptr && *pszTail != 0)
   {
      sqlite3_stmt *pStmt = nullptr;
      const char *pszNext = nullptr;
      if (sqlite3_prepare_v2(pConn->pDb, pszTail, -1, &pStmt, &pszNext) != SQLITE_OK)
      {
         SetError(pszError, nErrorSize, sqlite3_errmsg(pConn->pDb));
         return 0;
      }
      pszTail = pszNext;
      if (pStmt == nullptr)   // only white space or a comment was left
         continue;

      int nColumns = sqlite3_column_count(pStmt);
      bool bCollect = pSink != nullptr && !bColumnsSent && nColumns > 0;
      if (bCollect)
      {
         pSink->pfnColumns(pSink->pContext, nColumns);
         bColumnsSent = true;
      }
      int rc;
      while ((rc = sqlite3_step(pStmt)) == SQLITE_ROW)
      {
         if (!bCollect)
            continue;
         for (int i = 0; i < nColumns; i++)
         {
            const unsigned char *pText = sqlite3_column_text(pStmt, i);
            int bNull = sqlite3_column_type(pStmt, i) == SQLITE_NULL;
            size_t nLength = (size_t)sqlite3_column_bytes(pStmt, i);
            if (!pSink->pfnField(pSink->pContext, (const char *)pText, bNull ? 0 : nLength, bNull))
            {
               sqlite3_finalize(pStmt);
               SetError(pszError, nErrorSize, "out of memory");
               return 0;
            }
         }
      }
      if (rc != SQLITE_DONE)
      {
         SetError(pszError, nErrorSize, sqlite3_errmsg(pConn->pDb));
         sqlite3_finalize(pStmt);
         return 0;
      }
      sqlite3_finalize(pStmt);
   }
   if (pSink != nullptr && !bColumnsSent)
      pSink->pfnColumns(pSink->pContext, 0);
   return 1;
}

int Query(void *pHandle, const char *pszQuery, char *pszError, size_t nErrorSize)
{
   SqliteConnection *pConn = static_cast<SqliteConnection *>(pHandle);
   if (!EnsureCreated(pConn, pszError, nErrorSize))
      return 0;
   return Execute(pConn, pszQuery, nullptr, pszError, nErrorSize);
}

int Select(void *pHandle, const char *pszQuery, VlResultSink *pSink, char *pszError, size_t nErrorSize)
{
   SqliteConnection *pConn = static_cast<SqliteConnection *>(pHandle);
   if (pConn->pDb == nullptr)
   {
      snprintf(pszError, nErrorSize, "%s: database file does not exist", pConn->path.c_str());
      return 0;
   }
   return Execute(pConn, pszQuery, pSink, pszError, nErrorSize);
}

int Begin(void *pHandle, char *pszError, size_t nErrorSize)
{
   return Query(pHandle, "BEGIN", pszError, nErrorSize);
}

int Commit(void *pHandle, char *pszError, size_t nErrorSize)
{
   return Query(pHandle, "COMMIT", pszError, nErrorSize);
}

int Rollback(void *pHandle, char *pszError, size_t nErrorSize)
{
   // After some errors (a full disk, out of memory) SQLite has already
   // rolled the transaction back itself; then there is nothing left to do.
   SqliteConnection *pConn = static_cast<SqliteConnection *>(pHandle);
   if (pConn->pDb != nullptr && sqlite3_get_autocommit(pConn->pDb))
      return 1;
   return Query(pHandle, "ROLLBACK", pszError, nErrorSize);
}

const VlDbDriver kSqliteDriver = {
   "sqlite", VL_DRIVER_API_VERSION, Connect, Disconnect, Query, Select, Begin, Commit, Rollback,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const VlDbDriver *VlDbDriverEntry(void)
{
   return &kSqliteDriver;
}
