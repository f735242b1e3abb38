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
 * savepoint: released when the statement succeeds, rolled back to when it
 * fails, which leaves the transaction as it was before the statement.  With
 * libpq's pipeline mode the savepoint, the statement and the release travel
 * in one round trip; only a failure costs a second one.
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
};

const char kSavepoint[] = "SAVEPOINT vl_stmt";
const char kRelease[] = "RELEASE SAVEPOINT vl_stmt";
const char kUndo[] = "ROLLBACK TO SAVEPOINT vl_stmt; RELEASE SAVEPOINT vl_stmt";

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

/* Pushes the rows of a result into the sink; false when the sink ran out
   of memory. */
bool PushRows(const PGresult *pResult, VlResultSink *pSink)
{
   int nColumns = PQnfields(pResult);
   int nRows = PQntuples(pResult);
   pSink->pfnColumns(pSink->pContext, nColumns);
   for (int r = 0; r < nRows; r++)
      for (int c = 0; c < nColumns; c++)
      {
         bool bNull = PQgetisnull(pResult, r, c) != 0;
         if (!pSink->pfnField(pSink->pContext, bNull ? nullptr : PQgetvalue(pResult, r, c),
                              bNull ? 0 : (size_t)PQgetlength(pResult, r, c), bNull ? 1 : 0))
            return false;
      }
   return true;
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

/* After a failed statement under the savepoint: undoes it, so that the
   transaction can go on.  When even that fails (connection lost), there
   is nothing left to save; the statement's own error is what is reported. */
void UndoStatement(PgConn *pc)
{
   PGresult *pResult = PQexec(pc->pConn, kUndo);
   PQclear(pResult);
}

#ifdef LIBPQ_HAS_PIPELINING
/*
 * Runs the statement between SAVEPOINT and RELEASE in one pipeline.
 * Returns the statement's result (the caller clears it), or null when the
 * pipeline itself could not be used; *pbOk tells whether the statement
 * succeeded and the savepoint is released.
 */
PGresult *RunUnderSavepoint(PgConn *pc, const char *pszQuery, bool *pbOk, char *pszError,
                            size_t nErrorSize)
{
   PGconn *c = pc->pConn;
   *pbOk = false;
   if (!PQenterPipelineMode(c))
   {
      SetError(pszError, nErrorSize, PQerrorMessage(c));
      return nullptr;
   }
   bool bSent = PQsendQueryParams(c, kSavepoint, 0, nullptr, nullptr, nullptr, nullptr, 0) &&
                PQsendQueryParams(c, pszQuery, 0, nullptr, nullptr, nullptr, nullptr, 0) &&
                PQsendQueryParams(c, kRelease, 0, nullptr, nullptr, nullptr, nullptr, 0) &&
                PQpipelineSync(c);
   if (!bSent)
      SetError(pszError, nErrorSize, PQerrorMessage(c));

   // Collect every result up to the sync, keeping the statement's one.
   PGresult *pStatement = nullptr;
   bool bSavepointOk = false, bReleaseOk = false;
   int iQuery = 0;
   for (;;)
   {
      PGresult *r = PQgetResult(c);
      if (r == nullptr)
      {
         // End of one query's results; stop when the connection is gone
         // or nothing more can come.
         if (!bSent || PQstatus(c) != CONNECTION_OK)
            break;
         iQuery++;
         if (iQuery > 3)
            break;
         continue;
      }
      ExecStatusType s = PQresultStatus(r);
      if (s == PGRES_PIPELINE_SYNC)
      {
         PQclear(r);
         break;
      }
      if (iQuery == 0)
         bSavepointOk = ResultOk(r);
      else if (iQuery == 1 && pStatement == nullptr)
      {
         pStatement = r;
         continue;
      }
      else if (iQuery == 2)
         bReleaseOk = ResultOk(r);
      if (iQuery != 1 && !ResultOk(r) && s != PGRES_PIPELINE_ABORTED && pStatement == nullptr)
         SetResultError(pc, r, pszError, nErrorSize);
      PQclear(r);
   }
   PQexitPipelineMode(c);

   if (bSent && bSavepointOk && pStatement != nullptr && ResultOk(pStatement) && bReleaseOk)
   {
      *pbOk = true;
      return pStatement;
   }
   if (pStatement != nullptr && !ResultOk(pStatement))
      SetResultError(pc, pStatement, pszError, nErrorSize);
   else if (bSent && pszError != nullptr && nErrorSize > 0 && *pszError == 0)
      SetError(pszError, nErrorSize, PQerrorMessage(c));
   if (bSavepointOk)
      UndoStatement(pc);
   if (pStatement == nullptr)
      pStatement = PQmakeEmptyPGresult(c, PGRES_FATAL_ERROR);
   return pStatement;
}
#else
/* Without pipelining: three round trips. */
PGresult *RunUnderSavepoint(PgConn *pc, const char *pszQuery, bool *pbOk, char *pszError,
                            size_t nErrorSize)
{
   *pbOk = false;
   if (!ExecSimple(pc, kSavepoint, pszError, nErrorSize))
      return PQmakeEmptyPGresult(pc->pConn, PGRES_FATAL_ERROR);
   PGresult *pStatement = PQexec(pc->pConn, pszQuery);
   if (!ResultOk(pStatement))
   {
      SetResultError(pc, pStatement, pszError, nErrorSize);
      UndoStatement(pc);
      return pStatement;
   }
   if (!ExecSimple(pc, kRelease, pszError, nErrorSize))
   {
      UndoStatement(pc);
      return pStatement;
   }
   *pbOk = true;
   return pStatement;
}
#endif

/*
 * Runs one statement: bare outside a transaction, under the savepoint
 * inside one.  Returns the result when the statement succeeded (the caller
 * clears it), null after filling the error buffer.
 */
PGresult *Run(PgConn *pc, const char *pszQuery, char *pszError, size_t nErrorSize)
{
   if (pc == nullptr || pc->pConn == nullptr || pszQuery == nullptr)
   {
      SetError(pszError, nErrorSize, "not connected");
      return nullptr;
   }
   if (pszError != nullptr && nErrorSize > 0)
      *pszError = 0;
   if (!InTransaction(pc) || IsTransactionControl(pszQuery))
   {
      PGresult *pResult = PQexec(pc->pConn, pszQuery);
      if (ResultOk(pResult))
         return pResult;
      SetResultError(pc, pResult, pszError, nErrorSize);
      PQclear(pResult);
      return nullptr;
   }
   bool bOk;
   PGresult *pResult = RunUnderSavepoint(pc, pszQuery, &bOk, pszError, nErrorSize);
   if (bOk)
      return pResult;
   PQclear(pResult);
   return nullptr;
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
   PGresult *pResult = Run(static_cast<PgConn *>(pConn), pszQuery, pszError, nErrorSize);
   if (pResult == nullptr)
      return 0;
   PQclear(pResult);
   return 1;
}

int PgSelect(void *pConn, const char *pszQuery, VlResultSink *pSink, char *pszError,
             size_t nErrorSize)
{
   PGresult *pResult = Run(static_cast<PgConn *>(pConn), pszQuery, pszError, nErrorSize);
   if (pResult == nullptr)
      return 0;
   bool bOk = PushRows(pResult, pSink);
   PQclear(pResult);
   if (!bOk)
      SetError(pszError, nErrorSize, "out of memory");
   return bOk ? 1 : 0;
}

int PgBegin(void *pConn, char *pszError, size_t nErrorSize)
{
   PgConn *pc = static_cast<PgConn *>(pConn);
   if (pc == nullptr)
   {
      SetError(pszError, nErrorSize, "not connected");
      return 0;
   }
   return ExecSimple(pc, "BEGIN", pszError, nErrorSize) ? 1 : 0;
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
