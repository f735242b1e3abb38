/*
 * vlsrv.cpp - the database access library: driver loading, the connection
 * handle, materialised results and their field readers.
 *
 * A driver is a shared module "<name>.ddr".  The module is looked up in the
 * folder that VLDBMGR_DRIVER_DIR names, then beside the executable, then in
 * the installed driver folder.  Only one driver and one connection are in
 * use at a time, as the tools that use the library need no more.
 */
#include <vlsrv.h>
#include "vldriver.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <stdint.h>
#include <set>
#include <string>
#include <vector>

#ifndef VL_DRIVER_DIR
#define VL_DRIVER_DIR "/usr/local/lib/velmor"
#endif

char g_szDbDriver[DB_DRIVER_SIZE] = "sqlite";
char g_szDbDrvParams[DB_DRVPARAMS_SIZE] = "";
char g_szDbServer[DB_SERVER_SIZE] = "localhost";
char g_szDbLogin[DB_LOGIN_SIZE] = "velmor";
char g_szDbPassword[DB_PASSWORD_SIZE] = "";
char g_szDbName[DB_NAME_SIZE] = "velmor.db";

struct db_handle_struct
{
   void *pConn;            // the driver's connection object
};

/*
 * A result, kept compact because a select may return millions of rows and
 * the tool holds its result while it works through it.  The rows are
 * stored one after the other in blocks; a row never straddles two blocks.
 * Each field is its length plus one as a variable-length number (7 bits a
 * byte, low bits first; 0 stands for NULL), then its bytes and a NUL.  Per
 * row there is the offset of its first field inside its block; each block
 * knows the number of its first row.  So a field costs its text, a NUL and
 * (for texts shorter than 127 bytes) one byte, and a row four more.  The
 * blocks grow from small (a one-row lookup allocates little) to
 * kMaxBlockSize, so that the last, partly filled block wastes little.
 */
struct ResultBlock
{
   char *pData;
   size_t nSize;
   size_t nUsed;
   int nFirstRow;
};

struct db_result_struct
{
   int nColumns = 0;
   int nRows = 0;                      // complete rows
   int nFieldsInRow = 0;               // fields of the row being stored
   size_t nRowStart = 0;               // its offset in the last block
   std::vector<ResultBlock> blocks;
   std::vector<uint32_t> rowOffsets;   // one per complete row
   bool bOutOfMemory = false;

   ~db_result_struct()
   {
      for (ResultBlock &b : blocks)
         free(b.pData);
   }
};

namespace {

const VlDbDriver *g_pDriver = nullptr;   // the loaded driver
void *g_pModule = nullptr;               // its module handle
std::string g_driverName;                // normalised name of the loaded driver

const char *const kDriverSuffix = ".ddr";

/* "/usr/lib/velmor/SQLite.ddr" -> "sqlite"; "" -> "sqlite". */
std::string NormaliseDriverName(const char *pszName)
{
   std::string name(pszName);
   size_t slash = name.find_last_of("/\\");
   if (slash != std::string::npos)
      name = name.substr(slash + 1);
   size_t nSuffix = strlen(kDriverSuffix);
   if (name.size() > nSuffix && strcasecmp(name.c_str() + name.size() - nSuffix, kDriverSuffix) == 0)
      name.resize(name.size() - nSuffix);
   for (char &c : name)
      if (c >= 'A' && c <= 'Z')
         c = (char)(c - 'A' + 'a');
   if (name.empty())
      name = "sqlite";
   return name;
}

std::vector<std::string> DriverDirectories()
{
   std::vector<std::string> dirs;
   const char *pszEnv = getenv("VLDBMGR_DRIVER_DIR");
   if (pszEnv != nullptr && *pszEnv != 0)
      dirs.push_back(pszEnv);
   char szExe[PATH_MAX];
   ssize_t n = readlink("/proc/self/exe", szExe, sizeof(szExe) - 1);
   if (n > 0)
   {
      szExe[n] = 0;
      std::string exe(szExe);
      size_t slash = exe.find_last_of('/');
      if (slash != std::string::npos)
      {
         std::string dir = exe.substr(0, slash);
         dirs.push_back(dir);
         dirs.push_back(dir + "/../lib/velmor");
      }
   }
   dirs.push_back(VL_DRIVER_DIR);
   return dirs;
}

bool ValidName(const std::string &name)
{
   for (char c : name)
      if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
         return false;
   return true;
}

std::string KnownDrivers(const std::vector<std::string> &dirs)
{
   std::set<std::string> names;
   for (const std::string &dir : dirs)
   {
      DIR *d = opendir(dir.c_str());
      if (d == nullptr)
         continue;
      while (struct dirent *e = readdir(d))
      {
         std::string file(e->d_name);
         size_t nSuffix = strlen(kDriverSuffix);
         if (file.size() > nSuffix && file.compare(file.size() - nSuffix, nSuffix, kDriverSuffix) == 0)
            names.insert(file.substr(0, file.size() - nSuffix));
      }
      closedir(d);
   }
   std::string list;
   for (const std::string &name : names)
      list += (list.empty() ? "" : ", ") + name;
   return list.empty() ? std::string("none") : list;
}

/* Replaces every copy of the password in a text by asterisks. */
void HidePassword(char *pszText)
{
   size_t nPassword = strlen(g_szDbPassword);
   if (nPassword == 0 || pszText == nullptr)
      return;
   for (char *p = strstr(pszText, g_szDbPassword); p != nullptr; p = strstr(p + nPassword, g_szDbPassword))
      memset(p, '*', nPassword);
}

const size_t kFirstBlockSize = 256;
const size_t kMaxBlockSize = 1024 * 1024;
const size_t kMaxLengthBytes = 10;   // of a size_t as a variable-length number

void SinkColumns(void *pContext, int nColumns)
{
   static_cast<db_result_struct *>(pContext)->nColumns = nColumns;
}

/*
 * Makes room for nNeeded more bytes of the row being stored: when the last
 * block is too small, a new block takes the part of the row stored so far.
 */
bool ReserveRowSpace(db_result_struct *pResult, size_t nNeeded)
{
   ResultBlock *pLast = pResult->blocks.empty() ? nullptr : &pResult->blocks.back();
   if (pLast != nullptr && pLast->nSize - pLast->nUsed >= nNeeded)
      return true;

   size_t nPartial = pLast != nullptr ? pLast->nUsed - pResult->nRowStart : 0;
   size_t nSize = pLast != nullptr ? pLast->nSize * 2 : kFirstBlockSize;
   if (nSize > kMaxBlockSize)
      nSize = kMaxBlockSize;
   if (nSize < (nPartial + nNeeded) * 2)
      nSize = (nPartial + nNeeded) * 2;   // an outsized row gets a block to itself
   // Offsets inside a block are 32-bit.
   if (nSize > UINT32_MAX)
      return false;
   char *pData = static_cast<char *>(malloc(nSize));
   if (pData == nullptr)
      return false;
   if (nPartial > 0)
      memcpy(pData, pLast->pData + pResult->nRowStart, nPartial);
   if (pLast != nullptr)
   {
      pLast->nUsed = pResult->nRowStart;
      if (pLast->nUsed == 0 && pLast->nFirstRow == pResult->nRows)
      {
         // The block holds no complete row: replace it.
         free(pLast->pData);
         pResult->blocks.pop_back();
      }
   }
   ResultBlock block = { pData, nSize, nPartial, pResult->nRows };
   pResult->blocks.push_back(block);
   pResult->nRowStart = 0;
   return true;
}

int SinkField(void *pContext, const char *pData, size_t nLength, int bIsNull)
{
   db_result_struct *pResult = static_cast<db_result_struct *>(pContext);
   if (pResult->bOutOfMemory || pResult->nColumns <= 0)
      return 0;
   if (bIsNull)
      nLength = 0;
   if (!ReserveRowSpace(pResult, kMaxLengthBytes + nLength + 1))
   {
      pResult->bOutOfMemory = true;
      return 0;
   }
   ResultBlock &b = pResult->blocks.back();
   if (pResult->nFieldsInRow == 0)
      pResult->nRowStart = b.nUsed;
   unsigned char *p = reinterpret_cast<unsigned char *>(b.pData + b.nUsed);
   size_t nCode = bIsNull ? 0 : nLength + 1;
   do
   {
      *p = (unsigned char)(nCode & 0x7F);
      nCode >>= 7;
      if (nCode != 0)
         *p |= 0x80;
      p++;
   } while (nCode != 0);
   if (!bIsNull)
   {
      if (nLength > 0)
         memcpy(p, pData, nLength);
      p[nLength] = 0;
      p += nLength + 1;
   }
   b.nUsed = (size_t)(reinterpret_cast<char *>(p) - b.pData);

   if (++pResult->nFieldsInRow == pResult->nColumns)
   {
      if (pResult->nRows == INT32_MAX)
      {
         pResult->bOutOfMemory = true;
         return 0;
      }
      pResult->rowOffsets.push_back((uint32_t)pResult->nRowStart);
      pResult->nRows++;
      pResult->nFieldsInRow = 0;
   }
   return 1;
}

/* The text of a field, or nullptr when the field does not exist or is NULL. */
const char *FieldText(db_result_t hResult, int iRow, int iColumn)
{
   if (hResult == nullptr || iRow < 0 || iRow >= hResult->nRows || iColumn < 0 || iColumn >= hResult->nColumns)
      return nullptr;
   // The block of the row: the last one whose first row is not after it.
   const std::vector<ResultBlock> &blocks = hResult->blocks;
   size_t lo = 0, hi = blocks.size();
   while (hi - lo > 1)
   {
      size_t mid = (lo + hi) / 2;
      if (blocks[mid].nFirstRow <= iRow)
         lo = mid;
      else
         hi = mid;
   }
   const unsigned char *p = reinterpret_cast<const unsigned char *>(blocks[lo].pData + hResult->rowOffsets[iRow]);
   for (int c = 0;; c++)
   {
      size_t nCode = 0;
      int nShift = 0;
      unsigned char byte;
      do
      {
         byte = *p++;
         nCode |= (size_t)(byte & 0x7F) << nShift;
         nShift += 7;
      } while (byte & 0x80);
      if (c == iColumn)
         return nCode == 0 ? nullptr : reinterpret_cast<const char *>(p);
      if (nCode != 0)
         p += nCode;   // the text and its NUL
   }
}

}  // namespace

extern "C" int DBInit(int, int, int, DB_EVENT_HANDLER)
{
   if (g_pDriver != nullptr)
      return 1;

   std::string name = NormaliseDriverName(g_szDbDriver);
   std::vector<std::string> dirs = DriverDirectories();
   if (!ValidName(name))
   {
      fprintf(stderr, "Database driver \"%s\": invalid driver name; known drivers: %s\n",
              g_szDbDriver, KnownDrivers(dirs).c_str());
      return 0;
   }

   for (const std::string &dir : dirs)
   {
      std::string path = dir + "/" + name + kDriverSuffix;
      struct stat st;
      if (stat(path.c_str(), &st) != 0)
         continue;
      void *pModule = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (pModule == nullptr)
      {
         fprintf(stderr, "Database driver \"%s\": cannot load %s: %s\n", name.c_str(), path.c_str(), dlerror());
         return 0;
      }
      VlDbDriverEntryFn pfnEntry = (VlDbDriverEntryFn)dlsym(pModule, VL_DRIVER_ENTRY_SYMBOL);
      const VlDbDriver *pDriver = pfnEntry != nullptr ? pfnEntry() : nullptr;
      if (pDriver == nullptr || pDriver->nApiVersion != VL_DRIVER_API_VERSION)
      {
         fprintf(stderr, "Database driver \"%s\": %s is not a driver module of this version\n",
                 name.c_str(), path.c_str());
         dlclose(pModule);
         return 0;
      }
      g_pDriver = pDriver;
      g_pModule = pModule;
      g_driverName = name;
      return 1;
   }

   fprintf(stderr, "Database driver \"%s\": unknown driver; known drivers: %s\n", name.c_str(),
           KnownDrivers(dirs).c_str());
   return 0;
}

extern "C" db_handle_t DBConnect(void)
{
   if (g_pDriver == nullptr)
      return nullptr;
   VlDbConnParams params = { g_szDbServer, g_szDbName, g_szDbLogin, g_szDbPassword, g_szDbDrvParams };
   char szError[DBDRV_MAX_ERROR_TEXT] = "";
   void *pConn = g_pDriver->pfnConnect(&params, szError, sizeof(szError));
   if (pConn == nullptr)
   {
      HidePassword(szError);
      fprintf(stderr, "Database driver \"%s\": %s\n", g_driverName.c_str(),
              szError[0] != 0 ? szError : "connection failed");
      return nullptr;
   }
   db_handle_t hConn = new (std::nothrow) db_handle_struct;
   if (hConn == nullptr)
   {
      g_pDriver->pfnDisconnect(pConn);
      return nullptr;
   }
   hConn->pConn = pConn;
   return hConn;
}

extern "C" void DBDisconnect(db_handle_t hConn)
{
   if (hConn == nullptr)
      return;
   if (g_pDriver != nullptr)
      g_pDriver->pfnDisconnect(hConn->pConn);
   delete hConn;
}

extern "C" void DBUnloadDriver(void)
{
#ifndef VL_SANITIZE_BUILD
   if (g_pModule != nullptr)
      dlclose(g_pModule);
#endif
   // Under the sanitizers the module stays mapped, so that what the
   // engines' client libraries leave allocated at exit is reported with
   // their names (and suppressed by name), not as an unknown module.
   g_pModule = nullptr;
   g_pDriver = nullptr;
   g_driverName.clear();
}

extern "C" int DBQueryEx(db_handle_t hConn, const char *pszQuery, char *pszErrorText)
{
   char szError[DBDRV_MAX_ERROR_TEXT] = "";
   int bResult = 0;
   if (hConn == nullptr || g_pDriver == nullptr)
      snprintf(szError, sizeof(szError), "not connected");
   else
      bResult = g_pDriver->pfnQuery(hConn->pConn, pszQuery, szError, sizeof(szError));
   szError[sizeof(szError) - 1] = 0;
   if (!bResult)
   {
      if (szError[0] == 0)
         snprintf(szError, sizeof(szError), "unknown error");
      HidePassword(szError);
      if (pszErrorText != nullptr)
         memcpy(pszErrorText, szError, strlen(szError) + 1);
   }
   return bResult;
}

extern "C" int DBQuery(db_handle_t hConn, const char *pszQuery)
{
   char szError[DBDRV_MAX_ERROR_TEXT];
   return DBQueryEx(hConn, pszQuery, szError);
}

extern "C" db_result_t DBSelect(db_handle_t hConn, const char *pszQuery)
{
   if (hConn == nullptr || g_pDriver == nullptr)
      return nullptr;
   db_result_t hResult = new (std::nothrow) db_result_struct;
   if (hResult == nullptr)
      return nullptr;
   VlResultSink sink = { hResult, SinkColumns, SinkField };
   char szError[DBDRV_MAX_ERROR_TEXT] = "";
   if (!g_pDriver->pfnSelect(hConn->pConn, pszQuery, &sink, szError, sizeof(szError)) || hResult->bOutOfMemory)
   {
      delete hResult;
      return nullptr;
   }
   return hResult;
}

extern "C" int DBGetNumRows(db_result_t hResult)
{
   if (hResult == nullptr || hResult->nColumns <= 0)
      return 0;
   return hResult->nRows;
}

extern "C" char *DBGetField(db_result_t hResult, int iRow, int iColumn, char *pszBuffer, int nBufSize)
{
   if (pszBuffer == nullptr || nBufSize <= 0)
      return pszBuffer;
   const char *pszText = FieldText(hResult, iRow, iColumn);
   size_t nLength = pszText != nullptr ? strlen(pszText) : 0;
   if (nLength > (size_t)nBufSize - 1)
      nLength = (size_t)nBufSize - 1;
   if (nLength > 0)
      memcpy(pszBuffer, pszText, nLength);
   pszBuffer[nLength] = 0;
   return pszBuffer;
}

extern "C" int32_t DBGetFieldLong(db_result_t hResult, int iRow, int iColumn)
{
   const char *pszText = FieldText(hResult, iRow, iColumn);
   if (pszText == nullptr)
      return 0;
   // A damaged value beyond 32 bits must not wrap round into a plausible
   // number (4294967379 reading as 83): it stops at the nearest limit.
   long long nValue = strtoll(pszText, nullptr, 10);
   if (nValue > INT32_MAX)
      return INT32_MAX;
   if (nValue < INT32_MIN)
      return INT32_MIN;
   return (int32_t)nValue;
}

extern "C" uint32_t DBGetFieldULong(db_result_t hResult, int iRow, int iColumn)
{
   const char *pszText = FieldText(hResult, iRow, iColumn);
   return pszText != nullptr ? (uint32_t)strtoul(pszText, nullptr, 10) : 0;
}

extern "C" uint32_t DBGetFieldIPAddr(db_result_t hResult, int iRow, int iColumn)
{
   const char *pszText = FieldText(hResult, iRow, iColumn);
   struct in_addr addr;
   if (pszText == nullptr || inet_pton(AF_INET, pszText, &addr) != 1)
      return 0;
   return ntohl(addr.s_addr);
}

extern "C" void DBFreeResult(db_result_t hResult)
{
   delete hResult;
}

namespace {

/*
 * Runs one transaction-control call of the driver.  The callers only learn
 * success or failure, so a failure's reason (a dropped connection, a full
 * disk) goes to standard error, as a failed connection's does.
 */
int RunTransactionControl(db_handle_t hConn, int (*pfnControl)(void *, char *, size_t), const char *pszWhat)
{
   if (hConn == nullptr || g_pDriver == nullptr)
      return 0;
   char szError[DBDRV_MAX_ERROR_TEXT] = "";
   if (pfnControl(hConn->pConn, szError, sizeof(szError)))
      return 1;
   HidePassword(szError);
   fprintf(stderr, "Database driver \"%s\": %s failed: %s\n", g_driverName.c_str(), pszWhat,
           szError[0] != 0 ? szError : "no reason given");
   return 0;
}

}  // namespace

extern "C" int DBBegin(db_handle_t hConn)
{
   return RunTransactionControl(hConn, g_pDriver != nullptr ? g_pDriver->pfnBegin : nullptr, "BEGIN");
}

extern "C" int DBCommit(db_handle_t hConn)
{
   return RunTransactionControl(hConn, g_pDriver != nullptr ? g_pDriver->pfnCommit : nullptr, "COMMIT");
}

extern "C" int DBRollback(db_handle_t hConn)
{
   return RunTransactionControl(hConn, g_pDriver != nullptr ? g_pDriver->pfnRollback : nullptr, "ROLLBACK");
}
