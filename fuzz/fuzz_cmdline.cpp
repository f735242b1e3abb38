/*
 * fuzz_cmdline.cpp - the command line of the tool: the option scan and the
 * command check that main runs before it reads the configuration.
 *
 * main.cpp is compiled in here with its main renamed, so that
 * ScanCommandLine is reached as main calls it; nothing past the command
 * check runs (no configuration file is read, no driver is loaded).  The
 * input is the argument vector, words separated by NUL bytes.
 *
 * Invariants: the result is 0 (go on) or 1; going on means a known command
 * word, with its file for batch and init; the output is made only of usage
 * texts and at most one command-line message, with no control character
 * other than line ends; a -c path fits its buffer and stays NUL-ended.
 */
#include "fuzz.h"

#include <vector>

#define main VlDbMgrMain
#include "../dbmgr/main.cpp"
#undef main

namespace fuzzcmdline {

const size_t kMaxWords = 64;

int FuzzCommandLine(const uint8_t *pData, size_t nSize)
{
   std::vector<std::string> words;
   words.push_back("vldbmgr");
   size_t pos = 0;
   while (pos <= nSize && words.size() < kMaxWords)
   {
      const uint8_t *pNul = (const uint8_t *)memchr(pData + pos, 0, nSize - pos);
      size_t nEnd = pNul != nullptr ? (size_t)(pNul - pData) : nSize;
      words.push_back(std::string((const char *)pData + pos, nEnd - pos));
      pos = nEnd + 1;
   }
   if (nSize == 0)
      words.pop_back();   // no argument at all
   std::vector<char *> argv;
   for (std::string &w : words)
      argv.push_back(&w[0]);
   argv.push_back(nullptr);

   g_bForceRepair = g_bTraceQueries = g_bIgnoreSqlErrors = 0;
   g_pszMySqlTableType = "";
   optind = 0;   // a full restart of the scanner

   char szConfigFile[CONFIG_PATH_SIZE + 16];
   memset(szConfigFile, 0x55, sizeof(szConfigFile));
   strcpy(szConfigFile, "C:\\velmord.conf");
   const char *pszCommand = nullptr;
   const char *pszArgument = nullptr;

   FuzzStdoutCapture capture;
   capture.Begin();
   int nStatus;
   {
      FuzzStderrMute mute;
      nStatus = ScanCommandLine((int)words.size(), argv.data(), szConfigFile, &pszCommand, &pszArgument);
   }
   std::string out = capture.End();

   FUZZ_CHECK(nStatus == 0 || nStatus == 1);
   FUZZ_CHECK(memchr(szConfigFile, 0, CONFIG_PATH_SIZE) != nullptr);
   for (size_t i = CONFIG_PATH_SIZE; i < sizeof(szConfigFile); i++)
      FUZZ_CHECK((unsigned char)szConfigFile[i] == 0x55);

   if (nStatus == 0)
   {
      FUZZ_CHECK(pszCommand != nullptr);
      bool bKnown = false;
      for (const char *pszWord : s_pszCommands)
         bKnown = bKnown || strcmp(pszCommand, pszWord) == 0;
      FUZZ_CHECK(bKnown);
      if (strcmp(pszCommand, "batch") == 0 || strcmp(pszCommand, "init") == 0)
         FUZZ_CHECK(pszArgument != nullptr);
   }

   // Strip the usage texts; what is left is at most one message.
   std::string rest = out;
   const std::string usage = s_pszUsage;
   size_t nUsage = 0;
   while (rest.compare(0, usage.size(), usage) == 0)
   {
      rest.erase(0, usage.size());
      nUsage++;
   }
   if (nStatus == 0)
      FUZZ_CHECK(out.empty());
   else if (nUsage > 0)
      FUZZ_CHECK(rest.empty());
   else if (!rest.empty())
      FUZZ_CHECK(rest == "Command missing. Type vldbmgr -h for command line syntax.\n" ||
                 rest == "Required command argument missing\n" ||
                 (rest.compare(0, 17, "Invalid command \"") == 0 &&
                  rest.size() > 60 &&
                  rest.compare(rest.size() - 44, 44, "\". Type vldbmgr -h for command line syntax.\n") == 0));
   for (unsigned char ch : rest)
      FUZZ_CHECK(ch == '\n' || (ch >= 0x20 && ch != 0x7F));
   return 0;
}

}  // namespace fuzzcmdline

VL_FUZZ_ENTRY(fuzzcmdline::FuzzCommandLine)
