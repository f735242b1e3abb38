/*
 * main.cpp - start-up and dispatch: banner, options, command check,
 * configuration, driver, connection, syntax detection, the one command,
 * shutdown.  Every phase either hands on or ends the run with its exit
 * status (0 once a command routine ran, 1 to 6 for the start-up failures).
 */
#include "vldbmgr.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

/* Size of the configuration file path buffer. */
#define CONFIG_PATH_SIZE 260

/* Size of the syntax name buffer. */
#define SYNTAX_NAME_SIZE 16

static const char *const s_pszUsage =
   "Usage: vldbmgr [<options>] <command>\n"
   "Valid commands are:\n"
   "   batch <file> : Run SQL batch file\n"
   "   check        : Check database for errors\n"
   "   init <file>  : Initialize database\n"
   "   reindex      : Reindex database\n"
   "   unlock       : Forced database unlock\n"
   "   upgrade      : Upgrade database to new version\n"
   "Valid options are:\n"
   "   -c <config>  : Use alternate configuration file. Default is C:\\velmord.conf\n"
   "   -f           : Force repair - do not ask for confirmation.\n"
   "   -h           : Display help and exit.\n"
   "   -I           : MySQL only - specify TYPE=InnoDB for new tables.\n"
   "   -M           : MySQL only - specify TYPE=MyISAM for new tables.\n"
   "   -t           : Enable trace moded (show executed SQL queries).\n"
   "   -v           : Display version and exit.\n"
   "   -X           : Ignore SQL errors when upgrading (USE WITH CARE!!!)\n"
   "\n";

/* Syntax names as stored in DBSyntax, indexed by SqlDialect. */
static const char *const s_pszSyntaxNames[DIALECT_COUNT] = { "MYSQL", "PGSQL", "MSSQL", "ORACLE", "SQLITE" };

/* Command words, in the order they are recognised. */
static const char *const s_pszCommands[] = { "batch", "check", "reindex", "upgrade", "unlock", "init" };

/* Reads the configuration file path from the registry, if the key is there. */
static void ReadRegistryConfigPath(char *pszPath)
{
   HREGKEY hKey = RegistryOpenKey("Software\\Velmor\\Server");
   if (hKey == NULL)
      return;
   // A value that does not fit leaves the preset path in place.
   RegistryQueryString(hKey, "ConfigFile", pszPath, CONFIG_PATH_SIZE);
   RegistryCloseKey(hKey);
}

/*
 * Learns the SQL syntax of the database.  Returns 0 when it is known, or the
 * exit status (5, 6) after printing the reason.
 */
static int DetectSyntax(void)
{
   char szSyntax[SYNTAX_NAME_SIZE];
   int nProbe = ProbeConfigValue("SELECT var_value FROM config WHERE var_name='DBSyntax'", szSyntax, sizeof(szSyntax));
   if (nProbe < 0)
   {
      ConsolePrintf("Unable to determine database syntax\n");
      return 5;
   }
   if (nProbe == 0)
      strcpy(szSyntax, "UNKNOWN");

   for (int i = 0; i < DIALECT_COUNT; i++)
   {
      if (strcmp(szSyntax, s_pszSyntaxNames[i]) == 0)
      {
         g_nDbSyntax = (SqlDialect)i;
         return 0;
      }
   }
   ConsolePrintf("Unknown database syntax ");
   ConsoleWriteVisible(szSyntax);
   ConsolePrintf("\n");
   return 6;
}

/*
 * ScanCommandLine - the option scan and the command check: sets the option
 * flags, copies a -c path into pszConfigFile (CONFIG_PATH_SIZE bytes), and
 * prints the usage text and the command-line messages.  Returns 0 when a
 * command is to run (*ppszCommand is one of the command words, and
 * *ppszArgument the word after it, or NULL), else the exit status, 1.
 */
static int ScanCommandLine(int argc, char *argv[], char *pszConfigFile, const char **ppszCommand,
                           const char **ppszArgument)
{
   int bStop = 0;
   int ch;
   opterr = 1;
   while ((ch = getopt(argc, argv, "c:fhIMtvX")) != -1)
   {
      switch (ch)
      {
         case 'c':
            strncpy(pszConfigFile, optarg, CONFIG_PATH_SIZE - 1);
            pszConfigFile[CONFIG_PATH_SIZE - 1] = 0;
            break;
         case 'f':
            g_bForceRepair = 1;
            break;
         case 'h':
            ConsoleWrite(s_pszUsage);
            bStop = 1;
            break;
         case 'I':
            // Current servers take only ENGINE=; TYPE= is long gone.
            g_pszMySqlTableType = " ENGINE=InnoDB";
            break;
         case 'M':
            g_pszMySqlTableType = " ENGINE=MyISAM";
            break;
         case 't':
            g_bTraceQueries = 1;
            break;
         case 'v':
            bStop = 1;
            break;
         case 'X':
            g_bIgnoreSqlErrors = 1;
            break;
         case '?':
            bStop = 1;
            break;
         default:
            break;
      }
   }
   if (bStop)
      return 1;

   if (optind == argc)
   {
      ConsolePrintf("Command missing. Type vldbmgr -h for command line syntax.\n");
      return 1;
   }

   const char *pszCommand = argv[optind];
   int bKnown = 0;
   for (size_t i = 0; i < sizeof(s_pszCommands) / sizeof(s_pszCommands[0]); i++)
      if (strcmp(pszCommand, s_pszCommands[i]) == 0)
         bKnown = 1;
   if (!bKnown)
   {
      ConsolePrintf("Invalid command \"");
      ConsoleWriteVisible(pszCommand);
      ConsolePrintf("\". Type vldbmgr -h for command line syntax.\n");
      return 1;
   }

   if ((strcmp(pszCommand, "init") == 0 || strcmp(pszCommand, "batch") == 0) && argc - optind < 2)
   {
      ConsolePrintf("Required command argument missing\n");
      return 1;
   }
   *ppszCommand = pszCommand;
   *ppszArgument = argc - optind >= 2 ? argv[optind + 1] : NULL;
   return 0;
}

int main(int argc, char *argv[])
{
   ConsoleInit();
   ConsolePrintf("Velmor Database Manager Version 0.2.23-rc2\n\n");

   char szConfigFile[CONFIG_PATH_SIZE] = "C:\\velmord.conf";
   ReadRegistryConfigPath(szConfigFile);

   const char *pszCommand = NULL;
   const char *pszArgument = NULL;
   int nStatus = ScanCommandLine(argc, argv, szConfigFile, &pszCommand, &pszArgument);
   if (nStatus != 0)
      return nStatus;
   int bIsInit = strcmp(pszCommand, "init") == 0;

   ConsoleFlush();
   if (VlLoadConfig(szConfigFile, "", g_cfgTemplate, 1) != 0)
   {
      ConsolePrintf("Error loading configuration file\n");
      return 2;
   }

   ConsoleFlush();
   if (!DBInit(0, 0, 0, NULL))
   {
      ConsolePrintf("Unable to load and initialize database driver \"%s\"\n", g_szDbDriver);
      return 3;
   }

   ConsoleFlush();
   g_hDatabase = DBConnect();
   if (g_hDatabase == NULL)
   {
      ConsolePrintf("Unable to connect to database %s@%s as %s\n", g_szDbName, g_szDbServer, g_szDbLogin);
      DBUnloadDriver();
      return 4;
   }

   if (bIsInit)
   {
      RunInitCommand(pszArgument);
   }
   else
   {
      nStatus = DetectSyntax();
      if (nStatus != 0)
      {
         DBDisconnect(g_hDatabase);
         DBUnloadDriver();
         return nStatus;
      }

      if (strcmp(pszCommand, "batch") == 0)
         RunCommandFile(pszArgument);
      else if (strcmp(pszCommand, "check") == 0)
         RunCheckCommand();
      else if (strcmp(pszCommand, "upgrade") == 0)
         RunUpgradeCommand();
      else if (strcmp(pszCommand, "unlock") == 0)
         RunUnlockCommand();
      else if (strcmp(pszCommand, "reindex") == 0)
         RunReindexCommand();
   }

   ConsoleFlush();
   DBDisconnect(g_hDatabase);
   DBUnloadDriver();
   return 0;
}
