/*
 * vldriver.h - the contract between the database access library and its
 * drivers.
 *
 * A driver is a shared module "<name>.ddr" that exports one function,
 * VlDbDriverEntry, returning a constant descriptor: the engine's name, the
 * interface version and a small table of operations.  The library owns the
 * handles and results the tool sees; a driver only keeps its own connection
 * object and pushes result rows into a sink that the library provides, so
 * every driver returns its rows in the same form.
 *
 * Error texts: every operation that can fail takes a buffer (pszError,
 * nErrorSize) and leaves the engine's own message in it, NUL-ended, on
 * failure.  No operation may print anything or write a password anywhere.
 */
#ifndef VLDRIVER_H
#define VLDRIVER_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VL_DRIVER_API_VERSION 1

/* Connection settings handed to a driver's connect operation. */
typedef struct VlDbConnParams
{
   const char *pszServer;     /* host, socket directory or data source name */
   const char *pszName;       /* database name or file */
   const char *pszLogin;      /* login name */
   const char *pszPassword;   /* password */
   const char *pszParams;     /* driver-specific parameters */
} VlDbConnParams;

/*
 * Receiver of a select's rows.  The driver calls pfnColumns once with the
 * column count, then pfnField once per field, row by row, left to right.
 * pfnField returns 0 when memory ran out; the driver then stops and fails.
 */
typedef struct VlResultSink
{
   void *pContext;
   void (*pfnColumns)(void *pContext, int nColumns);
   int (*pfnField)(void *pContext, const char *pData, size_t nLength, int bIsNull);
} VlResultSink;

/* A driver's descriptor: one constant instance per engine. */
typedef struct VlDbDriver
{
   const char *pszName;       /* the name used in DBDriver, e.g. "sqlite" */
   int nApiVersion;           /* VL_DRIVER_API_VERSION */

   /* Open a connection; NULL on failure. */
   void *(*pfnConnect)(const VlDbConnParams *pParams, char *pszError, size_t nErrorSize);

   /* Close a connection; rolls back a transaction that is still open. */
   void (*pfnDisconnect)(void *pConn);

   /* Run one statement that returns no rows; 1 on success, 0 on failure. */
   int (*pfnQuery)(void *pConn, const char *pszQuery, char *pszError, size_t nErrorSize);

   /* Run a query and push every row into the sink; 1 on success, 0 on failure. */
   int (*pfnSelect)(void *pConn, const char *pszQuery, VlResultSink *pSink,
                    char *pszError, size_t nErrorSize);

   /* Transaction control; 1 on success, 0 on failure. */
   int (*pfnBegin)(void *pConn, char *pszError, size_t nErrorSize);
   int (*pfnCommit)(void *pConn, char *pszError, size_t nErrorSize);
   int (*pfnRollback)(void *pConn, char *pszError, size_t nErrorSize);
} VlDbDriver;

/* The one symbol a driver module exports. */
typedef const VlDbDriver *(*VlDbDriverEntryFn)(void);
#define VL_DRIVER_ENTRY_SYMBOL "VlDbDriverEntry"

#ifdef __cplusplus
}
#endif

#endif
