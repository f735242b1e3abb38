/*
 * fuzz_config.cpp - the configuration loader on arbitrary file contents,
 * with the tool's own template (the six connection settings, the code page
 * and the accepted server keys).
 *
 * Invariants: the loader returns 0 or 1; every receiving buffer stays
 * NUL-ended inside its size; a buffer whose key the file never names keeps
 * its value; a value that was stored is a piece of the file as it stands
 * (no two lines run together, nothing from outside the file).
 */
#include "fuzz.h"

#include <strings.h>

#include "vldbmgr.h"

namespace fuzzconfig {

struct Target
{
   const char *pszKey;
   char *pBuffer;
   size_t nSize;
};

Target s_targets[] = {
   { "CodePage", g_szCodePage, sizeof(g_szCodePage) },
   { "DBDriver", g_szDbDriver, DB_DRIVER_SIZE },
   { "DBDrvParams", g_szDbDrvParams, DB_DRVPARAMS_SIZE },
   { "DBLogin", g_szDbLogin, DB_LOGIN_SIZE },
   { "DBName", g_szDbName, DB_NAME_SIZE },
   { "DBPassword", g_szDbPassword, DB_PASSWORD_SIZE },
   { "DBServer", g_szDbServer, DB_SERVER_SIZE },
};
const size_t kTargets = sizeof(s_targets) / sizeof(s_targets[0]);

/* Case-insensitive search of a key name anywhere in the file. */
bool MentionsKey(const std::string &file, const char *pszKey)
{
   size_t n = strlen(pszKey);
   for (size_t i = 0; i + n <= file.size(); i++)
      if (strncasecmp(file.data() + i, pszKey, n) == 0)
         return true;
   return false;
}

/* A distinct marker, so that "unchanged" cannot be confused with a value. */
void Preset(char *pBuffer, size_t nSize, int nIndex)
{
   memset(pBuffer, 0, nSize);
   snprintf(pBuffer, nSize, "<preset-%d>", nIndex);
}

int FuzzConfigLoader(const uint8_t *pData, size_t nSize)
{
   static std::string s_path;
   if (s_path.empty())
   {
      const char *pszTmp = getenv("TMPDIR");
      s_path = std::string(pszTmp != nullptr && *pszTmp != 0 ? pszTmp : "/tmp") + "/vlfuzz-config-" +
               std::to_string((long)getpid()) + ".conf";
   }
   std::string file((const char *)pData, nSize);
   FILE *fp = fopen(s_path.c_str(), "wb");
   if (fp == nullptr)
      return 0;
   fwrite(file.data(), 1, file.size(), fp);
   fclose(fp);

   for (size_t i = 0; i < kTargets; i++)
      Preset(s_targets[i].pBuffer, s_targets[i].nSize, (int)i);

   int nResult;
   {
      FuzzStderrMute mute;
      nResult = VlLoadConfig(s_path.c_str(), "", g_cfgTemplate, 1);
   }
   unlink(s_path.c_str());
   FUZZ_CHECK(nResult == 0 || nResult == 1);

   for (size_t i = 0; i < kTargets; i++)
   {
      const Target &t = s_targets[i];
      FUZZ_CHECK(memchr(t.pBuffer, 0, t.nSize) != nullptr);
      char szPreset[64];
      snprintf(szPreset, sizeof(szPreset), "<preset-%d>", (int)i);
      if (strcmp(t.pBuffer, szPreset) == 0)
         continue;
      FUZZ_CHECK(MentionsKey(file, t.pszKey));
      FUZZ_CHECK(file.find(t.pBuffer) != std::string::npos);
   }
   return 0;
}

}  // namespace fuzzconfig

VL_FUZZ_ENTRY(fuzzconfig::FuzzConfigLoader)
