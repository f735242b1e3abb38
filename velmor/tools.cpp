/*
 * tools.cpp - small helpers of the utility library: whole-file reading,
 * in-place replacement and the text form of UUIDs.
 */
#include <velmor.h>

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" char *LoadFile(const char *pszFileName, uint32_t *pdwFileSize)
{
   int fd = open(pszFileName, O_RDONLY | O_CLOEXEC);
   if (fd < 0)
      return NULL;
   struct stat st;
   if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (uint64_t)st.st_size >= 0xFFFFFFFFull)
   {
      int nError = errno;
      close(fd);
      errno = S_ISDIR(st.st_mode) ? EISDIR : (nError != 0 ? nError : EFBIG);
      return NULL;
   }

   size_t nSize = (size_t)st.st_size;
   char *pData = (char *)malloc(nSize + 1);
   if (pData == NULL)
   {
      close(fd);
      errno = ENOMEM;
      return NULL;
   }
   size_t nDone = 0;
   while (nDone < nSize)
   {
      ssize_t n = read(fd, pData + nDone, nSize - nDone);
      if (n < 0 && errno == EINTR)
         continue;
      if (n <= 0)
         break;
      nDone += (size_t)n;
   }
   close(fd);
   if (nDone != nSize)
   {
      free(pData);
      errno = EIO;
      return NULL;
   }
   pData[nSize] = 0;
   if (pdwFileSize != NULL)
      *pdwFileSize = (uint32_t)nSize;
   return pData;
}

extern "C" int TranslateStr(char *pszString, const char *pszPattern, const char *pszReplacement)
{
   size_t nPattern = strlen(pszPattern);
   size_t nReplacement = strlen(pszReplacement);
   if (nPattern == 0 || nReplacement > nPattern)
      return 0;

   // One pass: read position and write position, the latter never ahead.
   char *pRead = pszString;
   char *pWrite = pszString;
   while (*pRead != 0)
   {
      if (strncmp(pRead, pszPattern, nPattern) == 0)
      {
         memmove(pWrite, pszReplacement, nReplacement);
         pWrite += nReplacement;
         pRead += nPattern;
      }
      else
      {
         *pWrite++ = *pRead++;
      }
   }
   *pWrite = 0;
   return 1;
}

extern "C" char *uuid_to_string(const uuid_t uuid, char *pszBuffer)
{
   uuid_unparse_lower(uuid, pszBuffer);
   return pszBuffer;
}
