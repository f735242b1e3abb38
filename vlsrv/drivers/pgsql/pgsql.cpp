/*
 * pgsql.cpp - the PostgreSQL driver, on libpq.
 *
 * Connection settings: DBServer is the host name or address (a path names
 * the folder of the server's socket), DBName, DBLogin and DBPassword as
 * usual, and DBDrvParams extra libpq connection keywords in conninfo form
 * ("port=5433 sslmode=require").  The explicit settings win over the same
 * keywords in DBDrvParams.
 *
 * PostgreSQL aborts a whole transaction at its first failed statement.  The
 * tool, however, lets a failed statement be reported and the work go on (the
 * -X option, tolerated failures of upgrade steps, per-row selects of
 * "check").  So inside an open transaction every statement runs under a
 * savepoint, rolled back to when the statement fails, which leaves the
 * transaction as it was before the statement.  The savepoint is set before
 * the statement is sent: the message of a statement is the statement, then
 * the release of its savepoint and the savepoint of the next one
 * ("<statement>;RELEASE SAVEPOINT vl_stmt;SAVEPOINT vl_stmt"), one simple
 * query and one round trip.  A statement that does not even parse, and so
 * makes the whole message fail, still finds its savepoint in place.  Only a
 * failure costs a second round trip (the rollback to the savepoint); the
 * first savepoint of a transaction travels with its BEGIN.
 *
 * Rows are taken from libpq one at a time (single-row mode) and passed on
 * to the sink at once, so a large result is never held twice.
 */
#include <libpq-fe.h>
#include <vldriver.h>

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

namespace {

/* One connection of this driver. */
struct PgConn
{
   PGconn *pConn;
   bool bSavepoint;   // vl_stmt is set in the open transaction
};

const char kSavepoint[] = "SAVEPOINT vl_stmt";
// Sent after every statement inside a transaction; the line end first ends
// a "--" comment that the statement's text may close with.
const char kNextSavepoint[] = "\n;RELEASE SAVEPOINT vl_stmt;SAVEPOINT vl_stmt";
// Keeps the savepoint, for the next statement.
const char kUndo[] = "ROLLBACK TO SAVEPOINT vl_stmt";

/* Copies a message into the caller's error buffer, without the line ends
   and indentation libpq puts into its texts. */
void SetError(char *pszError, size_t nErrorSize, const char *pszText)
{
   if (pszError == nullptr || nErrorSize == 0)
      return;
   if (pszText == nullptr || *pszText == 0)
      pszText = "unknown PostgreSQL error";
   size_t n = 0;
   bool bSpace = false;
   for (const char *p = pszText; *p != 0 && n + 1 < nErrorSize; p++)
   {
      if (*p == '\n' || *p == '\r' || *p == '\t')
      {
         bSpace = true;
         continue;
      }
      if (bSpace && n > 0)
      {
         pszError[n++] = ' ';
         if (n + 1 >= nErrorSize)
            break;
      }
      bSpace = false;
      pszError[n++] = *p;
   }
   while (n > 0 && pszError[n - 1] == ' ')
      n--;
   pszError[n] = 0;
}

/* The engine's message for a failed result: its primary text, or the
   connection's message when the result carries none (lost connection). */
void SetResultError(PgConn *pc, const PGresult *pResult, char *pszError, size_t nErrorSize)
{
   const char *pszText = nullptr;
   if (pResult != nullptr)
   {
      pszText = PQresultErrorField(pResult, PG_DIAG_MESSAGE_PRIMARY);
      if (pszText == nullptr || *pszText == 0)
         pszText = PQresultErrorMessage(pResult);
   }
   if (pszText == nullptr || *pszText == 0)
      pszText = PQerrorMessage(pc->pConn);
   SetError(pszError, nErrorSize, pszText);
}

/* Notices ("table does not exist, skipping") are not for the console. */
void IgnoreNotice(void *, const char *)
{
}

bool ResultOk(const PGresult *pResult)
{
   if (pResult == nullptr)
      return false;
   ExecStatusType s = PQresultStatus(pResult);
   return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK || s == PGRES_EMPTY_QUERY;
}

/* True when the statement itself controls the transaction (or its
   savepoints): it must not be wrapped into a savepoint of ours. */
bool IsTransactionControl(const char *pszQuery)
{
   static const char *const kWords[] = { "BEGIN", "START", "COMMIT", "END", "ROLLBACK", "ABORT",
                                         "SAVEPOINT", "RELEASE", "PREPARE TRANSACTION", nullptr };
   while (isspace((unsigned char)*pszQuery))
      pszQuery++;
   for (int i = 0; kWords[i] != nullptr; i++)
   {
      size_t n = strlen(kWords[i]);
      if (strncasecmp(pszQuery, kWords[i], n) == 0 && !isalnum((unsigned char)pszQuery[n]) &&
          pszQuery[n] != '_')
         return true;
   }
   return false;
}

bool InTransaction(PgConn *pc)
{
   return PQtransactionStatus(pc->pConn) == PQTRANS_INTRANS;
}

/* Runs one command with PQexec and reports its failure. */
bool ExecSimple(PgConn *pc, const char *pszQuery, char *pszError, size_t nErrorSize)
{
   PGresult *pResult = PQexec(pc->pConn, pszQuery);
   bool bOk = ResultOk(pResult);
   if (!bOk)
      SetResultError(pc, pResult, pszError, nErrorSize);
   PQclear(pResult);
   return bOk;
}

/*
 * Sends one query text and reads all its results.  With a sink, the rows
 * of the first statement that returns rows go into it as they arrive
 * (single-row mode); the rows of any further statement are dropped.
 * Returns true when every statement of the text succeeded; otherwise the
 * first error is in the buffer.
 */
bool SendAndCollect(PgConn *pc, const char *pszText, VlResultSink *pSink, char *pszError, size_t nErrorSize)
{
   PGconn *c = pc->pConn;
   if (!PQsendQuery(c, pszText))
   {
      SetError(pszError, nErrorSize, PQerrorMessage(c));
      return false;
   }
   if (pSink != nullptr)
      PQsetSingleRowMode(c);   // refused only when nothing is pending

   bool bOk = true, bColumnsSent = false, bRowsDone = false, bSinkFull = false;
   for (PGresult *r = PQgetResult(c); r != nullptr; r = PQgetResult(c))
   {
      ExecStatusType st = PQresultStatus(r);
      if (st == PGRES_SINGLE_TUPLE || st == PGRES_TUPLES_OK)
      {
         if (pSink != nullptr && !bRowsDone)
         {
            int nColumns = PQnfields(r);
            if (!bColumnsSent)
            {
               pSink->pfnColumns(pSink->pContext, nColumns);
               bColumnsSent = true;
            }
            int nRows = PQntuples(r);
            for (int iRow = 0; iRow < nRows && !bSinkFull; iRow++)
               for (int iCol = 0; iCol < nColumns && !bSinkFull; iCol++)
               {
                  bool bNull = PQgetisnull(r, iRow, iCol) != 0;
                  if (!pSink->pfnField(pSink->pContext, bNull ? nullptr : PQgetvalue(r, iRow, iCol),
                                       bNull ? 0 : (size_t)PQgetlength(r, iRow, iCol), bNull ? 1 : 0))
                     bSinkFull = true;
               }
            if (st == PGRES_TUPLES_OK)
               bRowsDone = true;
         }
      }
      else if (!ResultOk(r) && bOk)
      {
         SetResultError(pc, r, pszError, nErrorSize);
         bOk = false;
      }
      PQclear(r);
   }
   if (bOk && PQstatus(c) != CONNECTION_OK)
   {
      SetError(pszError, nErrorSize, PQerrorMessage(c));
      bOk = false;
   }
   if (bOk && bSinkFull)
   {
      SetError(pszError, nErrorSize, "out of memory");
      bOk = false;
   }
   if (bOk && pSink != nullptr && !bColumnsSent)
      pSink->pfnColumns(pSink->pContext, 0);
   return bOk;
}

/*
 * Runs one statement: bare outside a transaction (and when it is itself
 * transaction control), under the savepoint inside one.  Rows go into the
 * sink when there is one.  Returns 1 on success, 0 after filling the error
 * buffer.
 */
int Run(PgConn *pc, const char *pszQuery, VlResultSink *pSink, char *pszError, size_t nErrorSize)
{
   if (pc == nullptr || pc->pConn == nullptr || pszQuery == nullptr)
   {
      SetError(pszError, nErrorSize, "not connected");
      return 0;
   }
   if (pszError != nullptr && nErrorSize > 0)
      *pszError = 0;
   if (!InTransaction(pc) || IsTransactionControl(pszQuery))
   {
      bool bOk = SendAndCollect(pc, pszQuery, pSink, pszError, nErrorSize);
      // Whatever the statement did to the transaction, a savepoint of ours
      // is set anew before the next statement needs one.
      pc->bSavepoint = false;
      return bOk ? 1 : 0;
   }
   if (!pc->bSavepoint)
   {
      if (!ExecSimple(pc, kSavepoint, pszError, nErrorSize))
         return 0;
      pc->bSavepoint = true;
   }

   std::string text(pszQuery);
   text += kNextSavepoint;
   if (SendAndCollect(pc, text.c_str(), pSink, pszError, nErrorSize))
   {
      if (!InTransaction(pc))
         pc->bSavepoint = false;   // the statement ended the transaction itself
      return 1;
   }
   // Back to the state before the statement; the savepoint stays for the
   // next one.  When even that fails (connection lost, or the statement
   // ended the transaction), the statement's own error is what is reported.
   PGresult *pResult = PQexec(pc->pConn, kUndo);
   if (!ResultOk(pResult) || !InTransaction(pc))
      pc->bSavepoint = false;
   PQclear(pResult);
   return 0;
}

/* Appends one keyword and value for PQconnectdbParams. */
void AddKeyword(std::vector<std::string> *pKeys, std::vector<std::string> *pValues,
                const char *pszKey, const char *pszValue)
{
   for (size_t i = 0; i < pKeys->size(); i++)
      if ((*pKeys)[i] == pszKey)
      {
         (*pValues)[i] = pszValue;
         return;
      }
   pKeys->push_back(pszKey);
   pValues->push_back(pszValue);
}

void *PgConnect(const VlDbConnParams *pParams, char *pszError, size_t nErrorSize)
{
   std::vector<std::string> keys, values;
   AddKeyword(&keys, &values, "fallback_application_name", "vldbmgr");
   AddKeyword(&keys, &values, "client_encoding", "UTF8");
   AddKeyword(&keys, &values, "connect_timeout", "30");

   // Keywords of DBDrvParams come first, so that the explicit settings win.
   if (pParams->pszParams != nullptr && *pParams->pszParams != 0)
   {
      char *pszParseError = nullptr;
      PQconninfoOption *pOptions = PQconninfoParse(pParams->pszParams, &pszParseError);
      if (pOptions == nullptr)
      {
         std::string text = "invalid DBDrvParams: ";
         text += pszParseError != nullptr ? pszParseError : "out of memory";
         PQfreemem(pszParseError);
         SetError(pszError, nErrorSize, text.c_str());
         return nullptr;
      }
      for (PQconninfoOption *o = pOptions; o->keyword != nullptr; o++)
         if (o->val != nullptr)
            AddKeyword(&keys, &values, o->keyword, o->val);
      PQconninfoFree(pOptions);
   }
   if (pParams->pszServer != nullptr && *pParams->pszServer != 0)
      AddKeyword(&keys, &values, "host", pParams->pszServer);
   if (pParams->pszName != nullptr && *pParams->pszName != 0)
      AddKeyword(&keys, &values, "dbname", pParams->pszName);
   if (pParams->pszLogin != nullptr && *pParams->pszLogin != 0)
      AddKeyword(&keys, &values, "user", pParams->pszLogin);
   if (pParams->pszPassword != nullptr && *pParams->pszPassword != 0)
      AddKeyword(&keys, &values, "password", pParams->pszPassword);

   std::vector<const char *> k, v;
   for (size_t i = 0; i < keys.size(); i++)
   {
      k.push_back(keys[i].c_str());
      v.push_back(values[i].c_str());
   }
   k.push_back(nullptr);
   v.push_back(nullptr);

   // expand_dbname 0: a database name is only ever a name.
   PGconn *c = PQconnectdbParams(k.data(), v.data(), 0);
   // The password must not stay in our memory longer than needed.
   for (size_t i = 0; i < keys.size(); i++)
      if (keys[i] == "password")
         for (char &ch : values[i])
            ch = 0;
   if (c == nullptr)
   {
      SetError(pszError, nErrorSize, "out of memory");
      return nullptr;
   }
   if (PQstatus(c) != CONNECTION_OK)
   {
      SetError(pszError, nErrorSize, PQerrorMessage(c));
      PQfinish(c);
      return nullptr;
   }
   PQsetNoticeProcessor(c, IgnoreNotice, nullptr);
   PgConn *pc = new PgConn;
   pc->pConn = c;
   pc->bSavepoint = false;
   return pc;
}

void PgDisconnect(void *pConn)
{
   PgConn *pc = static_cast<PgConn *>(pConn);
   if (pc == nullptr)
      return;
   // Closing the session makes the server roll back what is still open.
   PQfinish(pc->pConn);
   delete pc;
}

int PgQuery(void *pConn, const char *pszQuery, char *pszError, size_t nErrorSize)
{
   return Run(static_cast<PgConn *>(pConn), pszQuery, nullptr, pszError, nErrorSize);
}

int PgSelect(void *pConn, const char *pszQuery, VlResultSink *pSink, char *pszError,
             size_t nErrorSize)
{
   return Run(static_cast<PgConn *>(pConn), pszQuery, pSink, pszError, nErrorSize);
}

int PgBegin(void *pConn, char *pszError, size_t nErrorSize)
{
   PgConn *pc = static_cast<PgConn *>(pConn);
   if (pc == nullptr)
   {
      SetError(pszError, nErrorSize, "not connected");
      return 0;
   }
   // The first statement's savepoint comes with the BEGIN.
   pc->bSavepoint = false;
   if (!ExecSimple(pc, "BEGIN;SAVEPOINT vl_stmt", pszError, nErrorSize))
      return 0;
   pc->bSavepoint = InTransaction(pc);
   return 1;
}

int PgCommit(void *pConn, char *pszError, size_t nErrorSize)
{
   PgConn *pc = static_cast<PgConn *>(pConn);
   if (pc == nullptr)
   {
      SetError(pszError, nErrorSize, "not connected");
      return 0;
   }
   // COMMIT of an aborted transaction "succeeds" by rolling it back; that
   // must not pass for a commit.
   bool bAborted = PQtransactionStatus(pc->pConn) == PQTRANS_INERROR;
   pc->bSavepoint = false;
   PGresult *pResult = PQexec(pc->pConn, "COMMIT");
   bool bOk = ResultOk(pResult);
   if (!bOk)
      SetResultError(pc, pResult, pszError, nErrorSize);
   else if (bAborted || strcmp(PQcmdStatus(pResult), "ROLLBACK") == 0)
   {
      SetError(pszError, nErrorSize, "the transaction was aborted and has been rolled back");
      bOk = false;
   }
   PQclear(pResult);
   return bOk ? 1 : 0;
}

int PgRollback(void *pConn, char *pszError, size_t nErrorSize)
{
   PgConn *pc = static_cast<PgConn *>(pConn);
   if (pc == nullptr)
   {
      SetError(pszError, nErrorSize, "not connected");
      return 0;
   }
   pc->bSavepoint = false;
   return ExecSimple(pc, "ROLLBACK", pszError, nErrorSize) ? 1 : 0;
}

const VlDbDriver kDriver = {
   "pgsql",     VL_DRIVER_API_VERSION, PgConnect, PgDisconnect, PgQuery,
   PgSelect,    PgBegin,               PgCommit,  PgRollback,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const VlDbDriver *VlDbDriverEntry(void)
{
   return &kDriver;
}
