/*
 * platform.h - the small platform layer under the database manager: the
 * console (text, colour attributes, single keys) and the registry stand-in.
 *
 * Terminal facts are decided once, by ConsoleInit: whether standard output
 * is a terminal that gets colours, and whether a controlling terminal can be
 * opened for keys.  Every routine below consults only those facts.
 */
#ifndef VLPLATFORM_H
#define VLPLATFORM_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Console text attributes: foreground colours on the default background. */
#define CONSOLE_GREY          7    /* the normal colour */
#define CONSOLE_LIGHT_GREEN   10
#define CONSOLE_LIGHT_RED     12
#define CONSOLE_YELLOW        14
#define CONSOLE_WHITE         15

/*
 * ConsoleInit - decide the terminal facts.  Colour is used when standard
 * output is a terminal and NO_COLOR is not set (VLDBMGR_FORCE_COLOR=1 turns
 * it on for any output).  Also installs the handlers that restore the
 * terminal when the process is interrupted while a key is awaited.
 */
void ConsoleInit(void);

/* ConsolePrintf - formatted text to standard output. */
int ConsolePrintf(const char *pszFormat, ...) __attribute__((format(printf, 1, 2)));

/* ConsoleWrite - plain text to standard output. */
void ConsoleWrite(const char *pszText);

/*
 * ConsoleWriteVisible - text from outside (a database row, a file) to
 * standard output with control characters shown visibly ("^[", "\x7f"), so
 * that stored text cannot send escape sequences to the terminal.
 */
void ConsoleWriteVisible(const char *pszText);

/*
 * ConsoleWriteText - a statement or an engine's message: like
 * ConsoleWriteVisible, but tabs, line feeds and carriage returns, which a
 * statement from a command file may hold, are written as they are.  Every
 * other control character (escape first of all) is shown visibly, so that
 * a value copied from a row into a statement cannot steer the terminal
 * when the statement is traced or shown as failed.
 */
void ConsoleWriteText(const char *pszText);

/*
 * ConsoleSetColor - switch the colour attribute.  Text written before the
 * change appears before it.  Without colour nothing is written.
 */
void ConsoleSetColor(int nAttribute);

/* ConsoleFlush - push buffered text out. */
void ConsoleFlush(void);

/*
 * ConsoleReadKey - one key from the controlling terminal, without echo and
 * without waiting for Enter.  Standard input is not read.  Returns the key,
 * or -1 when there is no terminal or it reached end of input.  The
 * terminal's settings are restored before the call returns, and on SIGINT,
 * SIGTERM or SIGHUP while it waits.
 */
int ConsoleReadKey(void);

/*
 * Registry stand-in.  Keys and values are read from a small text file,
 * "/etc/velmor/registry.conf", or the file that the environment variable
 * VELMOR_REGISTRY names:
 *
 *   [HKEY_LOCAL_MACHINE\Software\Velmor\Server]
 *   ConfigFile = /etc/velmord.conf
 *
 * A key opens when the file holds its section.
 */
typedef struct RegistryKey *HREGKEY;

/* RegistryOpenKey - open a key of the local machine for reading; NULL when it does not exist. */
HREGKEY RegistryOpenKey(const char *pszKeyPath);

/*
 * RegistryQueryString - copy a string value into pszBuffer (nSize bytes).
 * Returns 1 on success; 0 when the value is missing or does not fit, and the
 * buffer is then left unchanged.
 */
int RegistryQueryString(HREGKEY hKey, const char *pszValueName, char *pszBuffer, size_t nSize);

/* RegistryCloseKey - release a key; NULL is ignored. */
void RegistryCloseKey(HREGKEY hKey);

#ifdef __cplusplus
}
#endif

#endif
