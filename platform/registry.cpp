/*
 * registry.cpp - registry stand-in for POSIX systems.
 *
 * The few values the tools read from the registry of the local machine live
 * in a small text file ("/etc/velmor/registry.conf", or the file named by
 * VELMOR_REGISTRY) made of sections named by the key path and "Name = Value"
 * lines:
 *
 *   [HKEY_LOCAL_MACHINE\Software\Velmor\Server]
 *   ConfigFile = /etc/velmord.conf
 *
 * Key paths and value names compare without regard to letter case, as on
 * the system they stand in for.  A key opens when its section exists.
 */
#include "platform.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <fstream>
#include <map>
#include <string>

struct RegistryKey
{
   std::map<std::string, std::string> values;  // value name in lower case -> data
};

namespace {

const char *const kDefaultRegistryFile = "/etc/velmor/registry.conf";

std::string Trim(const std::string &s)
{
   size_t b = s.find_first_not_of(" \t\r\n");
   if (b == std::string::npos)
      return std::string();
   size_t e = s.find_last_not_of(" \t\r\n");
   return s.substr(b, e - b + 1);
}

std::string Lower(std::string s)
{
   for (char &c : s)
      if (c >= 'A' && c <= 'Z')
         c = (char)(c - 'A' + 'a');
   return s;
}

}  // namespace

extern "C" HREGKEY RegistryOpenKey(const char *pszKeyPath)
{
   const char *pszFile = getenv("VELMOR_REGISTRY");
   if (pszFile == NULL || *pszFile == 0)
      pszFile = kDefaultRegistryFile;
   std::ifstream in(pszFile);
   if (!in)
      return NULL;

   std::string wanted = Lower(std::string("HKEY_LOCAL_MACHINE\\") + pszKeyPath);
   bool bInKey = false, bFound = false;
   RegistryKey *pKey = new RegistryKey;
   std::string line;
   while (std::getline(in, line))
   {
      line = Trim(line);
      if (line.empty() || line[0] == '#' || line[0] == ';')
         continue;
      if (line.front() == '[' && line.back() == ']')
      {
         bInKey = Lower(Trim(line.substr(1, line.size() - 2))) == wanted;
         bFound = bFound || bInKey;
         continue;
      }
      size_t eq = line.find('=');
      if (!bInKey || eq == std::string::npos)
         continue;
      std::string value = Trim(line.substr(eq + 1));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
         value = value.substr(1, value.size() - 2);
      pKey->values[Lower(Trim(line.substr(0, eq)))] = value;
   }
   if (!bFound)
   {
      delete pKey;
      return NULL;
   }
   return pKey;
}

extern "C" int RegistryQueryString(HREGKEY hKey, const char *pszValueName, char *pszBuffer, size_t nSize)
{
   if (hKey == NULL || nSize == 0)
      return 0;
   auto it = hKey->values.find(Lower(pszValueName));
   if (it == hKey->values.end() || it->second.size() + 1 > nSize)
      return 0;
   memcpy(pszBuffer, it->second.c_str(), it->second.size() + 1);
   return 1;
}

extern "C" void RegistryCloseKey(HREGKEY hKey)
{
   delete hKey;
}
