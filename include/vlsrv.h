/*
 * vlsrv.h - interface of the server's database access library as the
 * database manager uses it.
 *
 * One connection at a time is made from the six exported globals below,
 * which the configuration loader fills.  The library loads one driver (see
 * DBInit), through which every statement reaches the database.  Rows and
 * columns count from 0.  Every operation is safe to call with a null handle
 * or result: it then fails (or does nothing) instead of crashing.
 */
#ifndef VLSRV_H
#define VLSRV_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque connection handle; one lives from DBConnect to DBDisconnect. */
typedef struct db_handle_struct *db_handle_t;

/* Opaque, fully materialised result of a select; release with DBFreeResult. */
typedef struct db_result_struct *db_result_t;

/* Sizes of the exported connection settings, in bytes, NUL included. */
#define DB_DRIVER_SIZE     260
#define DB_DRVPARAMS_SIZE  260
#define DB_SERVER_SIZE     260
#define DB_LOGIN_SIZE      64
#define DB_PASSWORD_SIZE   64
#define DB_NAME_SIZE       256

/* Size of the error-text buffer that DBQueryEx fills. */
#define DBDRV_MAX_ERROR_TEXT 1024

/* Connection settings, filled by the configuration loader before DBInit. */
extern char g_szDbDriver[DB_DRIVER_SIZE];        /* driver name, "sqlite" by default */
extern char g_szDbDrvParams[DB_DRVPARAMS_SIZE];  /* driver-specific parameters */
extern char g_szDbServer[DB_SERVER_SIZE];        /* server host, socket directory or DSN */
extern char g_szDbLogin[DB_LOGIN_SIZE];          /* login name */
extern char g_szDbPassword[DB_PASSWORD_SIZE];    /* password; never printed */
extern char g_szDbName[DB_NAME_SIZE];            /* database name, or the SQLite file path */

/* Callback of DBInit for library events; the tool passes NULL. */
typedef void (*DB_EVENT_HANDLER)(uint32_t dwCode, const char *pszText);

/*
 * DBInit - load the driver named in g_szDbDriver.
 * The name may carry a directory and a ".ddr" suffix: "/usr/lib/velmor/
 * sqlite.ddr" means "sqlite".  An empty name means "sqlite".  The three
 * integers are reserved and must be 0; pfnEventHandler may be NULL.
 * Returns non-zero on success, 0 when the driver is unknown or cannot be
 * loaded (a line on standard error then says why).
 */
int DBInit(int nReserved1, int nReserved2, int nReserved3, DB_EVENT_HANDLER pfnEventHandler);

/*
 * DBConnect - connect with the settings of the globals.
 * Returns the handle, or NULL on failure (a line on standard error then gives
 * the engine's reason, never the password).
 */
db_handle_t DBConnect(void);

/* DBDisconnect - close the connection; an open transaction is rolled back. */
void DBDisconnect(db_handle_t hConn);

/* DBUnloadDriver - release the driver; the last call of a run. */
void DBUnloadDriver(void);

/* DBSelect - run a query and fetch its whole result; NULL on failure. */
db_result_t DBSelect(db_handle_t hConn, const char *pszQuery);

/* DBQuery - run one statement; non-zero on success. */
int DBQuery(db_handle_t hConn, const char *pszQuery);

/*
 * DBQueryEx - run one statement; non-zero on success.  On failure the
 * engine's message, NUL-ended, is left in pszErrorText, which must hold
 * DBDRV_MAX_ERROR_TEXT bytes.
 */
int DBQueryEx(db_handle_t hConn, const char *pszQuery, char *pszErrorText);

/* DBGetNumRows - number of rows of a result (0 for NULL). */
int DBGetNumRows(db_result_t hResult);

/*
 * DBGetField - copy a field's text into pszBuffer: at most nBufSize - 1
 * characters, always NUL-ended.  A NULL field, or a row or column out of
 * range, reads as the empty text.  Returns pszBuffer.
 */
char *DBGetField(db_result_t hResult, int iRow, int iColumn, char *pszBuffer, int nBufSize);

/*
 * DBGetFieldLong, DBGetFieldULong - the field as a 32-bit number, converted
 * as strtol and strtoul with base 10 convert and then cut to 32 bits (so the
 * unsigned reading of "-2147483648" is 2147483648).  NULL or absent reads 0.
 */
int32_t DBGetFieldLong(db_result_t hResult, int iRow, int iColumn);
uint32_t DBGetFieldULong(db_result_t hResult, int iRow, int iColumn);

/* DBGetFieldIPAddr - a dotted IPv4 text as a number, 0 for anything else. */
uint32_t DBGetFieldIPAddr(db_result_t hResult, int iRow, int iColumn);

/* DBFreeResult - release a result; NULL is ignored. */
void DBFreeResult(db_result_t hResult);

/* Transaction control on the connection; non-zero on success. */
int DBBegin(db_handle_t hConn);
int DBCommit(db_handle_t hConn);
int DBRollback(db_handle_t hConn);

/*
 * EncodeSQLString - encoded copy of pszText that is safe between single
 * quotes in any statement: every character that could end or break a quoted
 * literal or a script line (quotes, "#", backslash, control characters, 0x7F)
 * becomes "#" and two hexadecimal digits; the empty text becomes "#00".
 * Allocated with malloc; the caller releases it with free.  NULL when memory
 * runs out.
 */
char *EncodeSQLString(const char *pszText);

/*
 * DecodeSQLString - decode in place.  "#" and two hexadecimal digits become
 * one character; a malformed "#" sequence stays as it stands.  The text never
 * grows.  Returns pszText.
 */
char *DecodeSQLString(char *pszText);

#ifdef __cplusplus
}
#endif

#endif
