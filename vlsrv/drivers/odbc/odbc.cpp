/*
 * odbc.cpp - the ODBC driver, on unixODBC: the way to Microsoft SQL Server,
 * Oracle and any other engine that has an ODBC driver.
 *
 * Connection settings: DBServer is the data source name (a section of
 * odbc.ini), or DBDrvParams a full connection string
 * ("Driver=...;Server=...;Port=..."); both together give the DSN plus
 * extra attributes.  DBLogin, DBPassword and DBName are added as UID, PWD
 * and DATABASE unless the connection string already names them.
 *
 * Text travels as UTF-16 through the wide-character calls and as UTF-8 on
 * our side, so no locale of the process can mangle it.
 */
#include <sql.h>
#include <sqlext.h>
#include <vldriver.h>

#include <ctype.h>
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

namespace {

/* One connection of this driver. */
struct OdbcConn
{
   SQLHENV hEnv;
   SQLHDBC hDbc;
   bool bInTransaction;   /* autocommit is off between Begin and its end */
   bool bLost;            /* a call reported the connection as gone (SQLSTATE 08xxx) */
};

typedef std::basic_string<SQLWCHAR> WString;

/* UTF-8 to UTF-16; a byte that is no valid UTF-8 is taken as Latin-1. */
WString Widen(const char *pszText)
{
   WString out;
   const unsigned char *p = reinterpret_cast<const unsigned char *>(pszText);
   while (*p != 0)
   {
      unsigned int cp = *p, nMore = 0;
      if (cp >= 0xF0 && cp <= 0xF4)
         cp &= 0x07, nMore = 3;
      else if (cp >= 0xE0 && cp <= 0xEF)
         cp &= 0x0F, nMore = 2;
      else if (cp >= 0xC2 && cp <= 0xDF)
         cp &= 0x1F, nMore = 1;
      unsigned int i = 1;
      for (; i <= nMore; i++)
      {
         if ((p[i] & 0xC0) != 0x80)
            break;
         cp = (cp << 6) | (p[i] & 0x3F);
      }
      if (nMore > 0 && i <= nMore)
      {
         cp = *p;   // broken sequence: the lead byte alone, as Latin-1
         nMore = 0;
      }
      p += nMore + 1;
      if (cp >= 0x10000)
      {
         cp -= 0x10000;
         out.push_back((SQLWCHAR)(0xD800 + (cp >> 10)));
         out.push_back((SQLWCHAR)(0xDC00 + (cp & 0x3FF)));
      }
      else
         out.push_back((SQLWCHAR)cp);
   }
   return out;
}

/* UTF-16 to UTF-8, appended to out. */
void Narrow(const SQLWCHAR *p, size_t n, std::string *pOut)
{
   for (size_t i = 0; i < n; i++)
   {
      unsigned int cp = p[i];
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && p[i + 1] >= 0xDC00 && p[i + 1] <= 0xDFFF)
      {
         cp = 0x10000 + ((cp - 0xD800) << 10) + (p[i + 1] - 0xDC00);
         i++;
      }
      else if (cp >= 0xD800 && cp <= 0xDFFF)
         cp = 0xFFFD;
      if (cp < 0x80)
         pOut->push_back((char)cp);
      else if (cp < 0x800)
      {
         pOut->push_back((char)(0xC0 | (cp >> 6)));
         pOut->push_back((char)(0x80 | (cp & 0x3F)));
      }
      else if (cp < 0x10000)
      {
         pOut->push_back((char)(0xE0 | (cp >> 12)));
         pOut->push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
         pOut->push_back((char)(0x80 | (cp & 0x3F)));
      }
      else
      {
         pOut->push_back((char)(0xF0 | (cp >> 18)));
         pOut->push_back((char)(0x80 | ((cp >> 12) & 0x3F)));
         pOut->push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
         pOut->push_back((char)(0x80 | (cp & 0x3F)));
      }
   }
}

void SetError(char *pszError, size_t nErrorSize, const char *pszText)
{
   if (pszError == nullptr || nErrorSize == 0)
      return;
   if (pszText == nullptr || *pszText == 0)
      pszText = "unknown ODBC error";
   snprintf(pszError, nErrorSize, "%s", pszText);
}

/* The diagnostic records of a handle, joined, as the error text.  When
   pbLost is given, it is set if a record says the connection is gone. */
void SetDiagError(SQLSMALLINT nType, SQLHANDLE h, char *pszError, size_t nErrorSize, bool *pbLost = nullptr)
{
   std::string text;
   for (SQLSMALLINT i = 1; i <= 8; i++)
   {
      SQLWCHAR state[6], message[1024];
      SQLINTEGER nNative = 0;
      SQLSMALLINT nLength = 0;
      SQLRETURN rc = SQLGetDiagRecW(nType, h, i, state, &nNative, message,
                                    (SQLSMALLINT)(sizeof(message) / sizeof(message[0])), &nLength);
      if (!SQL_SUCCEEDED(rc))
         break;
      if (nLength > (SQLSMALLINT)(sizeof(message) / sizeof(message[0])) - 1)
         nLength = (SQLSMALLINT)(sizeof(message) / sizeof(message[0])) - 1;
      if (pbLost != nullptr && state[0] == '0' && state[1] == '8')
         *pbLost = true;
      if (!text.empty())
         text += "; ";
      Narrow(message, (size_t)nLength, &text);
   }
   // Drivers end some messages with a line end; the tool shows one line.
   for (char &ch : text)
      if (ch == '\n' || ch == '\r' || ch == '\t')
         ch = ' ';
   while (!text.empty() && text.back() == ' ')
      text.pop_back();
   SetError(pszError, nErrorSize, text.c_str());
}

/* True when the connection string names the attribute (case-insensitive). */
bool HasAttribute(const std::string &conn, const char *pszKey)
{
   size_t i = 0, nKey = strlen(pszKey);
   while (i < conn.size())
   {
      while (i < conn.size() && (conn[i] == ';' || conn[i] == ' '))
         i++;
      size_t eq = conn.find('=', i);
      if (eq == std::string::npos)
         return false;
      std::string key = conn.substr(i, eq - i);
      while (!key.empty() && key.back() == ' ')
         key.pop_back();
      if (key.size() == nKey && strncasecmp(key.c_str(), pszKey, nKey) == 0)
         return true;
      // Skip the value; a braced value may hold ";".
      i = eq + 1;
      while (i < conn.size() && conn[i] == ' ')
         i++;
      if (i < conn.size() && conn[i] == '{')
      {
         for (i++; i < conn.size(); i++)
            if (conn[i] == '}')
            {
               if (i + 1 < conn.size() && conn[i + 1] == '}')
                  i++;
               else
               {
                  i++;
                  break;
               }
            }
      }
      while (i < conn.size() && conn[i] != ';')
         i++;
   }
   return false;
}

/* Appends "key=value;" with the value braced when it needs it. */
void AddAttribute(std::string *pConn, const char *pszKey, const char *pszValue)
{
   if (!pConn->empty() && pConn->back() != ';')
      *pConn += ';';
   *pConn += pszKey;
   *pConn += '=';
   size_t n = strlen(pszValue);
   if (strpbrk(pszValue, ";{}=") != nullptr || (n > 0 && (pszValue[0] == ' ' || pszValue[n - 1] == ' ')))
   {
      *pConn += '{';
      for (const char *p = pszValue; *p != 0; p++)
      {
         *pConn += *p;
         if (*p == '}')
            *pConn += '}';
      }
      *pConn += '}';
   }
   else
      *pConn += pszValue;
   *pConn += ';';
}

void Release(OdbcConn *pc)
{
   if (pc->hDbc != SQL_NULL_HDBC)
      SQLFreeHandle(SQL_HANDLE_DBC, pc->hDbc);
   if (pc->hEnv != SQL_NULL_HENV)
      SQLFreeHandle(SQL_HANDLE_ENV, pc->hEnv);
   delete pc;
}

void *OdbcConnect(const VlDbConnParams *pParams, char *pszError, size_t nErrorSize)
{
   auto Given = [](const char *p) { return p != nullptr && *p != 0; };
   std::string conn = Given(pParams->pszParams) ? pParams->pszParams : "";
   if (Given(pParams->pszServer) && !HasAttribute(conn, "DSN") && !HasAttribute(conn, "DRIVER") &&
       !HasAttribute(conn, "FILEDSN"))
   {
      std::string dsn;
      AddAttribute(&dsn, "DSN", pParams->pszServer);
      conn = dsn + conn;
   }
   if (conn.empty())
   {
      SetError(pszError, nErrorSize, "no data source: set DBServer to a DSN or DBDrvParams to a connection string");
      return nullptr;
   }
   if (Given(pParams->pszLogin) && !HasAttribute(conn, "UID"))
      AddAttribute(&conn, "UID", pParams->pszLogin);
   if (Given(pParams->pszPassword) && !HasAttribute(conn, "PWD"))
      AddAttribute(&conn, "PWD", pParams->pszPassword);
   if (Given(pParams->pszName) && !HasAttribute(conn, "DATABASE"))
      AddAttribute(&conn, "DATABASE", pParams->pszName);

   OdbcConn *pc = new OdbcConn;
   pc->hEnv = SQL_NULL_HENV;
   pc->hDbc = SQL_NULL_HDBC;
   pc->bInTransaction = false;
   pc->bLost = false;
   if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &pc->hEnv)))
   {
      SetError(pszError, nErrorSize, "cannot allocate an ODBC environment");
      pc->hEnv = SQL_NULL_HENV;
      Release(pc);
      return nullptr;
   }
   SQLSetEnvAttr(pc->hEnv, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
   if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, pc->hEnv, &pc->hDbc)))
   {
      SetDiagError(SQL_HANDLE_ENV, pc->hEnv, pszError, nErrorSize);
      pc->hDbc = SQL_NULL_HDBC;
      Release(pc);
      return nullptr;
   }
   SQLSetConnectAttr(pc->hDbc, SQL_ATTR_LOGIN_TIMEOUT, (SQLPOINTER)30, 0);

   WString wconn = Widen(conn.c_str());
   // The string holds the password: wipe both copies once used.
   for (char &ch : conn)
      ch = 0;
   SQLRETURN rc = SQLDriverConnectW(pc->hDbc, nullptr, (SQLWCHAR *)wconn.c_str(), SQL_NTS, nullptr,
                                    0, nullptr, SQL_DRIVER_NOPROMPT);
   for (SQLWCHAR &ch : wconn)
      ch = 0;
   if (!SQL_SUCCEEDED(rc))
   {
      SetDiagError(SQL_HANDLE_DBC, pc->hDbc, pszError, nErrorSize);
      Release(pc);
      return nullptr;
   }
   return pc;
}

void OdbcDisconnect(void *pConn)
{
   OdbcConn *pc = static_cast<OdbcConn *>(pConn);
   if (pc == nullptr)
      return;
   if (pc->bInTransaction)
      SQLEndTran(SQL_HANDLE_DBC, pc->hDbc, SQL_ROLLBACK);
   SQLDisconnect(pc->hDbc);
   Release(pc);
}

/* Runs a statement on a new statement handle.  Returns the handle (the
   caller frees it) or SQL_NULL_HSTMT after filling the error buffer. */
SQLHSTMT Execute(OdbcConn *pc, const char *pszQuery, char *pszError, size_t nErrorSize)
{
   if (pc == nullptr || pszQuery == nullptr)
   {
      SetError(pszError, nErrorSize, "not connected");
      return SQL_NULL_HSTMT;
   }
   if (pszError != nullptr && nErrorSize > 0)
      *pszError = 0;
   SQLHSTMT hStmt = SQL_NULL_HSTMT;
   if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, pc->hDbc, &hStmt)))
   {
      SetDiagError(SQL_HANDLE_DBC, pc->hDbc, pszError, nErrorSize);
      return SQL_NULL_HSTMT;
   }
   WString wquery = Widen(pszQuery);
   SQLRETURN rc = SQLExecDirectW(hStmt, (SQLWCHAR *)wquery.c_str(), SQL_NTS);
   // SQL_NO_DATA: a searched UPDATE or DELETE that matched no row.
   if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
   {
      SetDiagError(SQL_HANDLE_STMT, hStmt, pszError, nErrorSize, &pc->bLost);
      SQLFreeHandle(SQL_HANDLE_STMT, hStmt);
      return SQL_NULL_HSTMT;
   }
   return hStmt;
}

int OdbcQuery(void *pConn, const char *pszQuery, char *pszError, size_t nErrorSize)
{
   SQLHSTMT hStmt = Execute(static_cast<OdbcConn *>(pConn), pszQuery, pszError, nErrorSize);
   if (hStmt == SQL_NULL_HSTMT)
      return 0;
   SQLFreeHandle(SQL_HANDLE_STMT, hStmt);
   return 1;
}

int OdbcSelect(void *pConn, const char *pszQuery, VlResultSink *pSink, char *pszError,
               size_t nErrorSize)
{
   SQLHSTMT hStmt = Execute(static_cast<OdbcConn *>(pConn), pszQuery, pszError, nErrorSize);
   if (hStmt == SQL_NULL_HSTMT)
      return 0;
   SQLSMALLINT nColumns = 0;
   if (!SQL_SUCCEEDED(SQLNumResultCols(hStmt, &nColumns)))
   {
      SetDiagError(SQL_HANDLE_STMT, hStmt, pszError, nErrorSize);
      SQLFreeHandle(SQL_HANDLE_STMT, hStmt);
      return 0;
   }
   pSink->pfnColumns(pSink->pContext, nColumns);
   int nResult = 1;
   // Buffers reused for every field: no allocation per field.
   std::string value;
   WString wide;
   std::vector<SQLWCHAR> chunk(4096);
   while (nColumns > 0 && nResult == 1)
   {
      SQLRETURN rc = SQLFetch(hStmt);
      if (rc == SQL_NO_DATA)
         break;
      if (!SQL_SUCCEEDED(rc))
      {
         SetDiagError(SQL_HANDLE_STMT, hStmt, pszError, nErrorSize);
         nResult = 0;
         break;
      }
      for (SQLSMALLINT c = 1; c <= nColumns && nResult == 1; c++)
      {
         // Long values come in pieces: every call gives the next one.  The
         // pieces are joined before conversion, so that a character split
         // between two of them (a surrogate pair) stays whole.
         wide.clear();
         bool bNull = false;
         for (;;)
         {
            SQLLEN nIndicator = 0;
            rc = SQLGetData(hStmt, (SQLUSMALLINT)c, SQL_C_WCHAR, chunk.data(),
                            (SQLLEN)(chunk.size() * sizeof(SQLWCHAR)), &nIndicator);
            if (rc == SQL_NO_DATA)
               break;
            if (!SQL_SUCCEEDED(rc))
            {
               SetDiagError(SQL_HANDLE_STMT, hStmt, pszError, nErrorSize);
               nResult = 0;
               break;
            }
            if (nIndicator == SQL_NULL_DATA)
            {
               bNull = true;
               break;
            }
            size_t nChars = chunk.size() - 1;   // a full piece, less its NUL
            if (nIndicator != SQL_NO_TOTAL && (size_t)nIndicator / sizeof(SQLWCHAR) < nChars)
               nChars = (size_t)nIndicator / sizeof(SQLWCHAR);
            wide.append(chunk.data(), nChars);
            if (rc == SQL_SUCCESS)
               break;
         }
         value.clear();
         Narrow(wide.data(), wide.size(), &value);
         if (nResult == 1 && !pSink->pfnField(pSink->pContext, bNull ? nullptr : value.data(),
                                             bNull ? 0 : value.size(), bNull ? 1 : 0))
         {
            SetError(pszError, nErrorSize, "out of memory");
            nResult = 0;
         }
      }
   }
   SQLFreeHandle(SQL_HANDLE_STMT, hStmt);
   return nResult;
}

int SetAutocommit(OdbcConn *pc, bool bOn, char *pszError, size_t nErrorSize)
{
   SQLRETURN rc = SQLSetConnectAttr(pc->hDbc, SQL_ATTR_AUTOCOMMIT,
                                    (SQLPOINTER)(bOn ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0);
   if (!SQL_SUCCEEDED(rc))
   {
      SetDiagError(SQL_HANDLE_DBC, pc->hDbc, pszError, nErrorSize);
      return 0;
   }
   return 1;
}

int OdbcBegin(void *pConn, char *pszError, size_t nErrorSize)
{
   OdbcConn *pc = static_cast<OdbcConn *>(pConn);
   if (pc == nullptr)
   {
      SetError(pszError, nErrorSize, "not connected");
      return 0;
   }
   if (!SetAutocommit(pc, false, pszError, nErrorSize))
      return 0;
   pc->bInTransaction = true;
   return 1;
}

int EndTransaction(void *pConn, SQLSMALLINT nHow, char *pszError, size_t nErrorSize)
{
   OdbcConn *pc = static_cast<OdbcConn *>(pConn);
   if (pc == nullptr)
   {
      SetError(pszError, nErrorSize, "not connected");
      return 0;
   }
   // Some drivers forget the transaction when the connection breaks and
   // then "commit" nothing with success; a lost connection commits nothing.
   SQLUINTEGER nDead = SQL_CD_FALSE;
   if (nHow == SQL_COMMIT &&
       (pc->bLost || (SQL_SUCCEEDED(SQLGetConnectAttr(pc->hDbc, SQL_ATTR_CONNECTION_DEAD, &nDead, 0, nullptr)) &&
                      nDead == SQL_CD_TRUE)))
   {
      SetError(pszError, nErrorSize, "the connection to the database was lost; nothing was committed");
      pc->bInTransaction = false;
      return 0;
   }
   int nResult = 1;
   if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, pc->hDbc, nHow)))
   {
      SetDiagError(SQL_HANDLE_DBC, pc->hDbc, pszError, nErrorSize);
      nResult = 0;
   }
   pc->bInTransaction = false;
   char szIgnored[8];
   if (!SetAutocommit(pc, true, nResult ? pszError : szIgnored, nResult ? nErrorSize : sizeof(szIgnored)))
      nResult = 0;
   return nResult;
}

int OdbcCommit(void *pConn, char *pszError, size_t nErrorSize)
{
   return EndTransaction(pConn, SQL_COMMIT, pszError, nErrorSize);
}

int OdbcRollback(void *pConn, char *pszError, size_t nErrorSize)
{
   return EndTransaction(pConn, SQL_ROLLBACK, pszError, nErrorSize);
}

const VlDbDriver kDriver = {
   "odbc",     VL_DRIVER_API_VERSION, OdbcConnect, OdbcDisconnect, OdbcQuery,
   OdbcSelect, OdbcBegin,             OdbcCommit,  OdbcRollback,
};

/* The driver manager keeps caches and loaded ODBC drivers in globals that
   it never releases; unloading it with this module would leave them behind
   (or run its code after it is gone).  So it stays for the life of the
   process, whatever happens to this module. */
__attribute__((constructor)) void PinDriverManager(void)
{
   Dl_info info;
   if (dladdr(reinterpret_cast<void *>(&SQLAllocHandle), &info) != 0 && info.dli_fname != nullptr)
      dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const VlDbDriver *VlDbDriverEntry(void)
{
   return &kDriver;
}
