/*
 * config.cpp - the configuration-file loader, driven by a template.
 *
 * Syntax: one "Key = Value" per line; white space around key and value is
 * ignored; blank lines and lines starting with "#" are ignored; a pair of
 * double quotes around a value is removed; "[name]" starts a section and
 * keys before the first header belong to the section "".  Key and section
 * names compare without regard to letter case.
 */
#include <velmor.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

namespace {

std::string Trim(const std::string &s)
{
   size_t b = s.find_first_not_of(" \t\r\n\f\v");
   if (b == std::string::npos)
      return std::string();
   size_t e = s.find_last_not_of(" \t\r\n\f\v");
   return s.substr(b, e - b + 1);
}

ConfigTemplateEntry *FindEntry(ConfigTemplateEntry *pTemplate, const std::string &key)
{
   for (ConfigTemplateEntry *p = pTemplate; p->nType != CT_END; p++)
      if (strcasecmp(p->szName, key.c_str()) == 0)
         return p;
   return nullptr;
}

}  // namespace

extern "C" int VlLoadConfig(const char *pszFileName, const char *pszSection,
                            ConfigTemplateEntry *pTemplate, int nStrict)
{
   FILE *fp = fopen(pszFileName, "r");
   if (fp == NULL)
   {
      fprintf(stderr, "%s: cannot open configuration file: %s\n", pszFileName, strerror(errno));
      return 1;
   }

   int nErrors = 0;
   int nLine = 0;
   bool bInSection = (pszSection == NULL || *pszSection == 0);
   std::string line;
   char *pszLine = NULL;
   size_t nAllocated = 0;
   ssize_t nRead;
   // Whole lines, however long; getline gives the true length, so a NUL
   // byte inside a line cannot hide the rest of it.
   while ((nRead = getline(&pszLine, &nAllocated, fp)) >= 0)
   {
      nLine++;
      if (memchr(pszLine, 0, (size_t)nRead) != NULL)
      {
         // A damaged or binary file: never let two lines run together.
         fprintf(stderr, "%s:%d: line holds a NUL character\n", pszFileName, nLine);
         nErrors++;
         continue;
      }
      line.assign(pszLine, (size_t)nRead);

      std::string text = Trim(line);
      if (text.empty() || text[0] == '#')
         continue;

      if (text.front() == '[')
      {
         if (text.back() == ']')
         {
            std::string name = Trim(text.substr(1, text.size() - 2));
            bInSection = strcasecmp(name.c_str(), pszSection != NULL ? pszSection : "") == 0;
            continue;
         }
         if (bInSection && nStrict)
         {
            fprintf(stderr, "%s:%d: malformed section header\n", pszFileName, nLine);
            nErrors++;
         }
         continue;
      }
      if (!bInSection)
         continue;

      size_t eq = text.find('=');
      if (eq == std::string::npos || Trim(text.substr(0, eq)).empty())
      {
         if (nStrict)
         {
            fprintf(stderr, "%s:%d: line is not \"Key = Value\"\n", pszFileName, nLine);
            nErrors++;
         }
         continue;
      }
      std::string key = Trim(text.substr(0, eq));
      std::string value = Trim(text.substr(eq + 1));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
         value = value.substr(1, value.size() - 2);

      ConfigTemplateEntry *pEntry = FindEntry(pTemplate, key);
      if (pEntry == nullptr)
      {
         if (nStrict)
         {
            fprintf(stderr, "%s:%d: unknown key \"%s\"\n", pszFileName, nLine, key.c_str());
            nErrors++;
         }
         continue;
      }
      if (pEntry->nType != CT_STRING || pEntry->pBuffer == NULL || pEntry->nBufferSize == 0)
         continue;
      if (value.size() + 1 > pEntry->nBufferSize)
      {
         if (nStrict)
         {
            fprintf(stderr, "%s:%d: value of \"%s\" is too long (%zu characters, at most %u)\n",
                    pszFileName, nLine, pEntry->szName, value.size(), pEntry->nBufferSize - 1);
            nErrors++;
            continue;
         }
         value.resize(pEntry->nBufferSize - 1);
      }
      memcpy(pEntry->pBuffer, value.c_str(), value.size() + 1);
   }

   free(pszLine);
   if (ferror(fp))
   {
      fprintf(stderr, "%s: read error: %s\n", pszFileName, strerror(errno));
      nErrors++;
   }
   fclose(fp);
   return nErrors == 0 ? 0 : 1;
}
