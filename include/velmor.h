/*
 * velmor.h - interface of the server's utility library as the database
 * manager uses it: the configuration loader, whole-file reading, in-place
 * text replacement and UUIDs.  The option scanner is the C library's getopt
 * (<unistd.h>).
 */
#ifndef VELMOR_H
#define VELMOR_H

#include <stddef.h>
#include <stdint.h>
#include <uuid/uuid.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Type codes of a configuration template row. */
#define CT_STRING   1   /* text value, stored into the row's buffer */
#define CT_END      3   /* end of the template: empty name, no buffer */
#define CT_IGNORE   6   /* key accepted and not stored */

/*
 * One row of a configuration template.  The fields keep the order and the
 * widths of the server's template rows; the buffer pointer has the native
 * width of the platform.
 */
typedef struct ConfigTemplateEntry
{
   char szName[64];          /* key name, NUL-ended and zero-filled */
   uint8_t nType;            /* CT_STRING, CT_IGNORE or CT_END */
   uint8_t nSeparator;       /* reserved, 0 */
   uint16_t nReserved1;      /* reserved, 0 */
   uint32_t nBufferSize;     /* size of the receiving buffer; 0 where none */
   uint32_t nReserved2;      /* reserved, 0 */
   void *pBuffer;            /* buffer that receives the value, or NULL */
} ConfigTemplateEntry;

/*
 * VlLoadConfig - load the configuration file pszFileName into the buffers of
 * the template.
 *
 * File syntax: one "Key = Value" per line; white space around key and value
 * is ignored; blank lines and lines starting with "#" are ignored; a pair of
 * double quotes around a value is removed; "[name]" starts a section, and
 * keys before the first header belong to the section "".  Only the keys of
 * the section pszSection are loaded (case-insensitive section and key
 * names).  A repeated key: the last one wins.
 *
 * With nStrict set, a key the template does not list, a line that is not
 * "Key = Value" or a value longer than its buffer is an error; each error is
 * reported on standard error with the file name, the line number and the
 * key.  Returns 0 on success, non-zero on failure (the file cannot be read,
 * or an error with nStrict set).  On failure the buffers may hold the values
 * loaded before the error.
 */
int VlLoadConfig(const char *pszFileName, const char *pszSection,
                 ConfigTemplateEntry *pTemplate, int nStrict);

/*
 * LoadFile - read a whole file into memory.  A NUL is appended past the
 * contents, so the text can be used as a string.  *pdwFileSize receives the
 * size in bytes (without the NUL).  Returns a malloc'ed block that the caller
 * releases with free, or NULL on failure (errno tells why).
 */
char *LoadFile(const char *pszFileName, uint32_t *pdwFileSize);

/*
 * TranslateStr - replace every occurrence of pszPattern in pszString by
 * pszReplacement, in place.  The replacement must not be longer than the
 * pattern (the text never grows); a longer one leaves the text unchanged and
 * returns 0.  Returns 1 otherwise.
 */
int TranslateStr(char *pszString, const char *pszPattern, const char *pszReplacement);

/*
 * uuid_to_string - write the 36-character text form of a UUID (RFC 4122,
 * lower-case hexadecimal, 8-4-4-4-12) into pszBuffer, which must hold at
 * least 37 bytes (the tool passes 64).  Returns pszBuffer.  UUIDs themselves
 * come from libuuid's uuid_generate.
 */
char *uuid_to_string(const uuid_t uuid, char *pszBuffer);

#ifdef __cplusplus
}
#endif

#endif
